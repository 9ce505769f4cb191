// What the benchmarks share: the generated table (the same rows for the same
// seed in every program, so their figures can be set side by side), timing,
// forked measurements and the command line.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace mirel_bench {

// The machine's file system, shared by every step of a benchmark.
inline mirel::FileSystem& BenchFs() {
  static const std::unique_ptr<mirel::FileSystem> fs = mirel::NewPosixFileSystem();
  return *fs;
}

namespace fs = std::filesystem;

// Defined by each program, for its messages.
extern const char* const kProgram;

inline constexpr uint64_t kSeed = 0x4d6972656c2d3031;
inline constexpr int kRuns = 3;
inline constexpr uint64_t kDefaultRows = 1000000;
// Keeps the working data file well below its 4 GiB limit.
inline constexpr uint64_t kMaxRows = 50000000;

struct BenchError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

inline void Check(const mirel::Status& status, const std::string& what) {
  if (!status.IsOk()) throw BenchError(what + ": " + status.message());
}

template <class T>
T Check(mirel::Result<T> result, const std::string& what) {
  if (!result.IsOk()) throw BenchError(what + ": " + result.status().message());
  return std::move(result).value();
}

inline void Expect(uint64_t got, uint64_t want, const std::string& what) {
  if (got != want) {
    throw BenchError(what + ": got " + std::to_string(got) + ", expected " + std::to_string(want));
  }
}

// splitmix64: the same stream on every platform, which the std distributions
// do not promise.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
  }
  uint64_t Below(uint64_t n) { return Next() % n; }

 private:
  uint64_t state_;
};

// Only for the Han ranges the generator draws from (three or four bytes).
inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  }
  out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (c & 0x3F));
}

inline void WriteFile(const fs::path& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) throw BenchError(path.string() + ": cannot write: " + std::strerror(errno));
}

// The table as UTF-8 "entry TAB code" lines ended by CR LF: entries of 1 to 4
// Han characters, about 2 % of them outside the BMP, codes of 1 to 4
// lowercase letters, and about 5 % of the rows exact copies of earlier ones.
struct GeneratedTable {
  struct Line {
    size_t start, length;  // without CR LF
    uint64_t units;        // UTF-16 units, without CR LF
    std::string_view In(const std::string& text) const { return {text.data() + start, length}; }
  };
  std::string text;
  std::vector<Line> lines;
  uint64_t copiedRows = 0, characters = 0, supplementary = 0;
  uint64_t utf16Units = 0;  // of the whole text, CR LF included
};

inline GeneratedTable GenerateTable(uint64_t rows, Rng& rng) {
  using Line = GeneratedTable::Line;
  GeneratedTable g;
  std::string& table = g.text;
  table.reserve(rows * 16);
  g.lines.reserve(rows);
  for (uint64_t k = 0; k < rows; ++k) {
    Line line{table.size(), 0, 0};
    if (k > 0 && rng.Below(100) < 5) {
      const Line& from = g.lines[rng.Below(k)];
      const std::string copy = table.substr(from.start, from.length);
      table += copy;
      line.units = from.units;
      ++g.copiedRows;
    } else {
      for (uint64_t c = 1 + rng.Below(4); c > 0; --c) {
        ++g.characters;
        if (rng.Below(100) < 2) {
          AppendUtf8(table, static_cast<char32_t>(0x20000 + rng.Below(0x2A6E0 - 0x20000)));
          line.units += 2;
          ++g.supplementary;
        } else {
          AppendUtf8(table, static_cast<char32_t>(0x4E00 + rng.Below(0x9FA6 - 0x4E00)));
          line.units += 1;
        }
      }
      table += '\t';
      const uint64_t codeLength = 1 + rng.Below(4);
      for (uint64_t c = 0; c < codeLength; ++c) table += static_cast<char>('a' + rng.Below(26));
      line.units += 1 + codeLength;
    }
    line.length = table.size() - line.start;
    table += "\r\n";
    g.utf16Units += line.units + 2;
    g.lines.push_back(line);
  }
  return g;
}

// A table shaped like the real ones built from input-method dictionaries:
// stroke-style codes over five letters, 1 to 64 keys long (about 0.1 % one
// key, 4 % two, 9 % three, 45 % four, 9 % five, the rest spread from 6 to 64)
// and sharing long prefixes, a few holding a space; many codes carried by
// several rows, a few by hundreds; entries of 1 to 10 characters, about 80 %
// single characters and about 45 % reaching outside the BMP; about 0.3 % of
// the rows exact copies of earlier ones. Rows come mostly in code order, in
// runs: the sorted rows are cut into runs and a fifth of the runs moved.
inline GeneratedTable GenerateRealTable(uint64_t rows, Rng& rng) {
  constexpr std::string_view kStrokes = "hspnz";
  // Long codes grow from shared stems, which gives them their long prefixes.
  std::vector<std::string> stems(std::max<uint64_t>(rows / 40, 16));
  for (std::string& stem : stems) {
    const uint64_t length = 5 + rng.Below(rng.Below(4) == 0 ? 40 : 12);
    for (uint64_t k = 0; k < length; ++k) stem += kStrokes[rng.Below(5)];
  }
  auto codeLength = [&]() -> uint64_t {
    const uint64_t p = rng.Below(1000);
    if (p < 1) return 1;
    if (p < 41) return 2;
    if (p < 131) return 3;
    if (p < 581) return 4;
    if (p < 671) return 5;
    // 6 to 64 keys, shorter ones more often.
    return 6 + std::min<uint64_t>(rng.Below(59), rng.Below(59));
  };
  // Distinct codes, each with the number of rows that carry it.
  struct Code {
    std::string text;
    uint32_t rowCount;
  };
  std::vector<Code> codes;
  uint64_t planned = 0;
  while (planned < rows) {
    const uint64_t length = codeLength();
    std::string code;
    if (length >= 6) {
      const std::string& stem = stems[rng.Below(stems.size())];
      code = stem.substr(0, std::min<uint64_t>(stem.size(), length));
    }
    while (code.size() < length) code += kStrokes[rng.Below(5)];
    if (length >= 3 && rng.Below(200) == 0) code[1 + rng.Below(length - 2)] = ' ';
    const uint64_t p = rng.Below(10000);
    uint64_t count = p < 5000   ? 1
                     : p < 8000 ? 2 + rng.Below(3)
                     : p < 9990 ? 5 + rng.Below(20)
                                : 50 + rng.Below(300);
    count = std::min(count, rows - planned);
    codes.push_back(Code{std::move(code), static_cast<uint32_t>(count)});
    planned += count;
  }
  std::sort(codes.begin(), codes.end(),
            [](const Code& a, const Code& b) { return a.text < b.text; });

  // The rows in code order, then runs of them moved.
  GeneratedTable sorted;
  std::string& text = sorted.text;
  text.reserve(rows * 22);
  sorted.lines.reserve(rows);
  auto character = [&](bool outside) -> char32_t {
    if (outside) {
      // Extension B, and sometimes C to F.
      return rng.Below(8) != 0 ? static_cast<char32_t>(0x20000 + rng.Below(0xA6E0))
                               : static_cast<char32_t>(0x2A700 + rng.Below(0x2EBE0 - 0x2A700));
    }
    return static_cast<char32_t>(0x4E00 + rng.Below(0x9FA6 - 0x4E00));
  };
  for (const Code& code : codes) {
    for (uint32_t n = 0; n < code.rowCount; ++n) {
      GeneratedTable::Line line{text.size(), 0, 0};
      if (!sorted.lines.empty() && rng.Below(1000) < 3) {
        const GeneratedTable::Line& from =
            sorted.lines[sorted.lines.size() - 1 -
                         rng.Below(std::min<size_t>(sorted.lines.size(), 50))];
        const std::string copy = text.substr(from.start, from.length);
        text += copy;
        line.units = from.units;
        ++sorted.copiedRows;
      } else {
        const uint64_t characters = rng.Below(100) < 80 ? 1 : 2 + rng.Below(9);
        const bool outside = rng.Below(100) < 45;
        for (uint64_t c = 0; c < characters; ++c) {
          const char32_t ch = character(outside && (c == 0 || rng.Below(4) == 0));
          AppendUtf8(text, ch);
          line.units += ch >= 0x10000 ? 2 : 1;
          sorted.supplementary += ch >= 0x10000;
          ++sorted.characters;
        }
        text += '\t';
        text += code.text;
        line.units += 1 + code.text.size();
      }
      line.length = text.size() - line.start;
      text += "\r\n";
      sorted.utf16Units += line.units + 2;
      sorted.lines.push_back(line);
    }
  }

  // Cut into runs of 1 to 20000 rows; a fifth of them swap places with another.
  std::vector<std::pair<size_t, size_t>> runs;  // first line, line count
  for (size_t at = 0; at < sorted.lines.size();) {
    const size_t n = std::min<size_t>(1 + rng.Below(20000), sorted.lines.size() - at);
    runs.emplace_back(at, n);
    at += n;
  }
  for (size_t k = 0; k < runs.size(); ++k) {
    if (rng.Below(5) == 0) std::swap(runs[k], runs[rng.Below(runs.size())]);
  }
  GeneratedTable g;
  g.copiedRows = sorted.copiedRows;
  g.characters = sorted.characters;
  g.supplementary = sorted.supplementary;
  g.utf16Units = sorted.utf16Units;
  g.text.reserve(text.size());
  g.lines.reserve(sorted.lines.size());
  for (const auto& [first, count] : runs) {
    for (size_t k = first; k < first + count; ++k) {
      GeneratedTable::Line line = sorted.lines[k];
      const size_t start = g.text.size();
      g.text.append(text, line.start, line.length + 2);
      line.start = start;
      g.lines.push_back(line);
    }
  }
  return g;
}

// The two shapes every scale benchmark runs on.
enum class Shape { kEven, kReal };

inline const char* ShapeName(Shape shape) { return shape == Shape::kEven ? "even" : "real"; }

inline GeneratedTable GenerateShaped(Shape shape, uint64_t rows, Rng& rng) {
  return shape == Shape::kEven ? GenerateTable(rows, rng) : GenerateRealTable(rows, rng);
}

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <class Setup, class Run>
double BestOf(Setup setup, Run run, int runs = kRuns) {
  double best = 0;
  for (int k = 0; k < runs; ++k) {
    setup();
    const Clock::time_point start = Clock::now();
    run();
    const double ms = MsSince(start);
    best = k == 0 ? ms : std::min(best, ms);
  }
  return best;
}

inline void NoSetup() {}

// Times a whole shell command, best of kRuns; a command that fails stops the run.
inline double TimeCommand(const std::string& command) {
  return BestOf(NoSetup, [&] {
    if (std::system(command.c_str()) != 0) throw BenchError("command failed: " + command);
  });
}

inline double MiB(double bytes) { return bytes / (1024.0 * 1024.0); }

inline double PeakMiB(const struct rusage& usage) {
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

inline double PeakMiB() {
  struct rusage ru {};
  ::getrusage(RUSAGE_SELF, &ru);
  return PeakMiB(ru);
}

inline size_t ReadAll(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, p + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

inline void Wait(pid_t pid, int& status, struct rusage& usage) {
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) throw BenchError(std::string("wait4: ") + std::strerror(errno));
  }
}

// Runs `work` in a forked process and returns its result, with the process's
// resource usage in `usage` when asked. The child starts with the parent's
// resident pages, so a small parent keeps the child's peak its own.
template <class Work>
auto InChild(const char* what, Work work, struct rusage* usage = nullptr) {
  using T = decltype(work());
  // One write of at most PIPE_BUF bytes reaches the pipe whole.
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= PIPE_BUF);
  int fds[2];
  if (::pipe(fds) != 0) throw BenchError(std::string("pipe: ") + std::strerror(errno));
  std::fflush(nullptr);  // or the child would print the parent's buffered output again
  const pid_t pid = ::fork();
  if (pid < 0) throw BenchError(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    ::close(fds[0]);
    int code = 1;
    try {
      const T result = work();
      if (::write(fds[1], &result, sizeof result) == sizeof result) code = 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s: %s\n", kProgram, what, e.what());
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  ::close(fds[1]);
  T result{};
  const size_t got = ReadAll(fds[0], &result, sizeof result);
  ::close(fds[0]);
  int status = 0;
  struct rusage ru {};
  Wait(pid, status, ru);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || got != sizeof result) {
    throw BenchError(std::string(what) + " failed");
  }
  if (usage) *usage = ru;
  return result;
}

inline std::string Quote(const fs::path& path) {
  std::string out = "'";
  for (char c : path.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Best time and largest peak memory of a process over its runs.
struct ProcessFigures {
  double ms = 0, peakMiB = 0;
};

struct ProcessOptions {
  int runs = kRuns;
  bool quiet = false;        // standard output to /dev/null
  bool mayFail = false;      // a failing exit status is measured too (and stderr muted)
  const char* missing = "";  // what to install when the program cannot be run
};

// Runs a command as a process of its own, without a shell in between, so its
// resource usage is the program's alone.
inline ProcessFigures TimeProcess(const std::vector<std::string>& args,
                                  const ProcessOptions& options = {}) {
  std::string shown;
  std::vector<char*> argv;
  for (const std::string& arg : args) {
    if (!shown.empty()) shown += ' ';
    shown += Quote(arg);
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  ProcessFigures f;
  for (int k = 0; k < options.runs; ++k) {
    std::fflush(nullptr);
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) throw BenchError(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
      if (options.quiet) {
        if (std::FILE* null = std::freopen("/dev/null", "w", stdout)) (void)null;
      }
      if (options.mayFail) {
        if (std::FILE* null = std::freopen("/dev/null", "w", stderr)) (void)null;
      }
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    Wait(pid, status, usage);
    const double ms = MsSince(start);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
      throw BenchError(std::string("cannot run ") + argv[0] + " " + options.missing);
    }
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && !options.mayFail)) {
      throw BenchError("command failed (" +
                       (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                          : "signal " + std::to_string(WTERMSIG(status))) +
                       "): " + shown);
    }
    f.ms = k == 0 ? ms : std::min(f.ms, ms);
    f.peakMiB = std::max(f.peakMiB, PeakMiB(usage));
  }
  return f;
}

inline void PrintRatio(const char* name, double value, const char* relation, double target) {
  const bool ok = relation[0] == '<' && relation[1] == '=' ? value <= target : value < target;
  std::printf("  %-50s %7.2f   %-2s %4.2f   %s\n", name, value, relation, target,
              ok ? "ok" : "MISSED");
}

inline int Usage(const char* message) {
  if (message) std::fprintf(stderr, "%s: %s\n", kProgram, message);
  std::fprintf(message ? stderr : stdout,
               "usage: %s [--rows N] [--dir DIR]\n"
               "  --rows N   rows in the generated table (default %llu)\n"
               "  --dir DIR  where to make the scratch folder (default $TMPDIR or /tmp);\n"
               "             the scratch folder is removed at the end\n",
               kProgram, static_cast<unsigned long long>(kDefaultRows));
  return message ? 2 : 0;
}

// The command line of every benchmark. Returns an exit code when the program
// should stop here (help or a bad option), -1 when it should run.
inline int ParseArguments(int argc, char** argv, uint64_t& rows, fs::path& base) {
  rows = kDefaultRows;
  const char* tmp = std::getenv("TMPDIR");
  base = tmp && *tmp ? fs::path(tmp) : fs::path("/tmp");
  for (int k = 1; k < argc; ++k) {
    const std::string_view arg = argv[k];
    if (arg == "--help" || arg == "-h") return Usage(nullptr);
    if (k + 1 >= argc) return Usage("missing value after an option");
    if (arg == "--rows") {
      char* end = nullptr;
      errno = 0;
      const unsigned long long n = std::strtoull(argv[++k], &end, 10);
      if (errno != 0 || *end != '\0' || n == 0 || n > kMaxRows || argv[k][0] == '-') {
        return Usage("--rows needs a whole number from 1 to 50000000");
      }
      rows = n;
    } else if (arg == "--dir") {
      base = argv[++k];
    } else {
      return Usage("unknown option");
    }
  }
  return -1;
}

// A fresh scratch folder named after the program, or an empty path (with a
// message) when it cannot be made.
inline fs::path MakeScratchFolder(const fs::path& base) {
  std::string pattern = (base / (std::string(kProgram) + ".XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) {
    std::fprintf(stderr, "%s: cannot make a folder in %s: %s\n", kProgram, base.c_str(),
                 std::strerror(errno));
    return {};
  }
  return pattern;
}

}  // namespace mirel_bench
