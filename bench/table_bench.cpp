// Times the table store on a large generated table, next to plain command-line
// tools doing comparable work on the same file, and checks the store's row
// counts against what the generator knows about the table.
//
// Generation and the store measurements each run in a forked process, so the
// peak memory reported is the store's own and not the generator's.
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
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "platform/temp_folder.h"
#include "store/table_store.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSeed = 0x4d6972656c2d3031;
constexpr int kRuns = 3;
constexpr uint64_t kDefaultRows = 1000000;
// Keeps the working data file well below its 4 GiB limit.
constexpr uint64_t kMaxRows = 50000000;

struct BenchError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void Check(const mirel::Status& status, const std::string& what) {
  if (!status.IsOk()) throw BenchError(what + ": " + status.message());
}

template <class T>
T Check(mirel::Result<T> result, const std::string& what) {
  if (!result.IsOk()) throw BenchError(what + ": " + result.status().message());
  return std::move(result).value();
}

void Expect(uint64_t got, uint64_t want, const std::string& what) {
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

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  }
  out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (c & 0x3F));
}

// Every file of a run lives in one scratch folder.
struct Paths {
  fs::path dir;
  fs::path table() const { return dir / "table.txt"; }
  fs::path frequency() const { return dir / "frequency.txt"; }
  fs::path operator()(const char* name) const { return dir / name; }
};

// Crosses the pipe from the generator, so it must stay trivially copyable.
struct TableFacts {
  uint64_t rows, copiedRows, uniqueRows, characters, supplementary, utf16Units, bytes;
  uint64_t frequencyEntries, codeA, codeAb, codeAbc;
};

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) throw BenchError(path.string() + ": cannot write: " + std::strerror(errno));
}

TableFacts Generate(uint64_t rows, const Paths& paths) {
  struct Line {
    size_t start, length;  // without CR LF
    uint64_t units;
  };
  Rng rng(kSeed);
  TableFacts facts{};
  facts.rows = rows;
  std::string table;
  table.reserve(rows * 16);
  std::vector<Line> lines;
  lines.reserve(rows);
  for (uint64_t k = 0; k < rows; ++k) {
    Line line{table.size(), 0, 0};
    if (k > 0 && rng.Below(100) < 5) {
      const Line& from = lines[rng.Below(k)];
      const std::string copy = table.substr(from.start, from.length);
      table += copy;
      line.units = from.units;
      ++facts.copiedRows;
    } else {
      for (uint64_t c = 1 + rng.Below(4); c > 0; --c) {
        ++facts.characters;
        if (rng.Below(100) < 2) {
          AppendUtf8(table, static_cast<char32_t>(0x20000 + rng.Below(0x2A6E0 - 0x20000)));
          line.units += 2;
          ++facts.supplementary;
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
    facts.utf16Units += line.units + 2;
    lines.push_back(line);
  }
  facts.bytes = table.size();

  std::unordered_set<std::string_view> distinct, frequencyWords;
  distinct.reserve(rows);
  std::string frequency;
  for (const Line& line : lines) {
    const std::string_view text(table.data() + line.start, line.length);
    const size_t tab = text.find('\t');
    const std::string_view entry = text.substr(0, tab), code = text.substr(tab + 1);
    distinct.insert(text);
    facts.codeA += code.starts_with("a");
    facts.codeAb += code.starts_with("ab");
    facts.codeAbc += code == "abc";
    // A real frequency list names each word once.
    if (rng.Below(100) < 30 && frequencyWords.insert(entry).second) {
      frequency.append(entry);
      frequency += '\t';
      frequency += std::to_string(1 + rng.Below(1000000));
      frequency += "\r\n";
    }
  }
  facts.uniqueRows = distinct.size();
  facts.frequencyEntries = frequencyWords.size();
  WriteFile(paths.table(), table);
  WriteFile(paths.frequency(), frequency);
  return facts;
}

using Clock = std::chrono::steady_clock;

template <class Setup, class Run>
double BestOf(Setup setup, Run run) {
  double best = 0;
  for (int k = 0; k < kRuns; ++k) {
    setup();
    const Clock::time_point start = Clock::now();
    run();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    best = k == 0 ? ms : std::min(best, ms);
  }
  return best;
}

void NoSetup() {}

enum Step {
  kLoad,
  kDataCopy,
  kFilterEmpty,
  kFilterA,
  kFilterAb,
  kFilterExact,
  kBySource,
  kByCode1,
  kByCode2,
  kByEntry1,
  kByEntry2,
  kByFrequency,
  kWrite,
  kDedupe,
  kSteps
};
constexpr const char* kStepNames[kSteps] = {"LoadTable (includes the empty filter)",
                                            "plain copy of the working data file",
                                            "ApplyFilter empty",
                                            "ApplyFilter prefix \"a\"",
                                            "ApplyFilter prefix \"ab\"",
                                            "ApplyFilter exact \"abc\"",
                                            "order by source (from code order 1)",
                                            "order by code 1 (a-ab-b)",
                                            "order by code 2 (shorter first)",
                                            "order by entry 1 (unit order)",
                                            "order by entry 2 (fewer first)",
                                            "order by frequency",
                                            "WriteTableText (UTF-16LE)",
                                            "RemoveDuplicates (fresh, source order)"};

struct StoreFigures {
  double ms[kSteps];
  double peakMiB[kSteps];  // the store process's peak so far, just after the step
  double baselineMiB, firstLoadMiB;
};

double PeakMiB() {
  struct rusage ru {};
  ::getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

StoreFigures MeasureStore(const Paths& paths, const TableFacts& facts) {
  std::unique_ptr<mirel::TempFolder> temp =
      Check(mirel::TempFolder::OpenIn(paths.dir), "temporary folder");
  mirel::TableStore store(*temp);
  StoreFigures f{};
  f.baselineMiB = PeakMiB();
  auto time = [&](Step step, auto setup, auto run) {
    f.ms[step] = BestOf(setup, run);
    f.peakMiB[step] = PeakMiB();
  };
  auto load = [&] {
    Expect(Check(store.LoadTable(paths.table()), "LoadTable"), facts.rows, "rows loaded");
    // Later loads replace an open table, which an editor also does, but the
    // first shows what one table costs.
    if (f.firstLoadMiB == 0) f.firstLoadMiB = PeakMiB();
  };
  time(kLoad, NoSetup, load);

  const fs::path dataFile = temp->TempPath(mirel::kDataFileName);
  time(kDataCopy, NoSetup, [&] {
    fs::copy_file(dataFile, paths("data_copy.ktw"), fs::copy_options::overwrite_existing);
  });

  auto filter = [&](Step step, std::u16string_view text, bool exact, uint64_t want) {
    time(step, NoSetup, [&] {
      (void)Check(store.ApplyFilter(text, exact), "ApplyFilter");
      Expect(store.VisibleRowCount(), want, "visible rows");
    });
  };
  filter(kFilterEmpty, u"", false, facts.rows);
  filter(kFilterA, u"a", false, facts.codeA);
  filter(kFilterAb, u"ab", false, facts.codeAb);
  filter(kFilterExact, u"abc", true, facts.codeAbc);

  // Every ordering starts from source order, except source order itself.
  auto fromSource = [&] { store.SortBySource(); };
  time(
      kBySource, [&] { store.SortByCode(1); }, fromSource);
  time(kByCode1, fromSource, [&] { store.SortByCode(1); });
  time(kByCode2, fromSource, [&] { store.SortByCode(2); });
  time(kByEntry1, fromSource, [&] { store.SortByEntry(1); });
  time(kByEntry2, fromSource, [&] { store.SortByEntry(2); });
  time(kByFrequency, fromSource,
       [&] { Check(store.SortByFrequency(paths.frequency()), "SortByFrequency"); });
  Expect(store.RowCount(), facts.rows, "rows after the orderings");

  store.SortBySource();
  time(kWrite, NoSetup,
       [&] { Check(store.WriteTableText(paths("written.txt")), "WriteTableText"); });
  time(kDedupe, load, [&] {
    Expect(store.RemoveDuplicates(), facts.uniqueRows, "rows kept by RemoveDuplicates");
  });
  store.CloseTable();
  return f;
}

size_t ReadAll(int fd, void* data, size_t size) {
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

// Runs `work` in a forked process and returns its result, with the process's
// resource usage in `usage` when asked.
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
      std::fprintf(stderr, "table_bench: %s: %s\n", what, e.what());
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
  while (::wait4(pid, &status, 0, &ru) < 0) {
    if (errno != EINTR) throw BenchError(std::string("wait4: ") + std::strerror(errno));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || got != sizeof result) {
    throw BenchError(std::string(what) + " failed");
  }
  if (usage) *usage = ru;
  return result;
}

std::string Quote(const fs::path& path) {
  std::string out = "'";
  for (char c : path.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

double TimeCommand(const std::string& command) {
  return BestOf(NoSetup, [&] {
    if (std::system(command.c_str()) != 0) throw BenchError("command failed: " + command);
  });
}

void PrintTime(const char* name, double ms) { std::printf("  %-40s %10.1f\n", name, ms); }

void PrintCount(uint64_t n, const char* what) {
  std::printf("   %llu %s", static_cast<unsigned long long>(n), what);
}

void PrintRatio(const char* name, double value, const char* relation, double target) {
  const bool ok = relation[0] == '<' && relation[1] == '=' ? value <= target : value < target;
  std::printf("  %-50s %7.2f   %-2s %4.1f   %s\n", name, value, relation, target,
              ok ? "ok" : "MISSED");
}

double MiB(double bytes) { return bytes / (1024.0 * 1024.0); }

int Usage(const char* message) {
  if (message) std::fprintf(stderr, "table_bench: %s\n", message);
  std::fprintf(message ? stderr : stdout,
               "usage: table_bench [--rows N] [--dir DIR]\n"
               "  --rows N   rows in the generated table (default %llu)\n"
               "  --dir DIR  where to make the scratch folder (default $TMPDIR or /tmp);\n"
               "             the scratch folder is removed at the end\n",
               static_cast<unsigned long long>(kDefaultRows));
  return message ? 2 : 0;
}

int Run(uint64_t rows, const fs::path& base) {
  std::string pattern = (base / "table_bench.XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    std::fprintf(stderr, "table_bench: cannot make a folder in %s: %s\n", base.c_str(),
                 std::strerror(errno));
    return 1;
  }
  Paths paths;
  paths.dir = pattern;

  int code = 0;
  try {
    std::printf("table_bench: %llu rows, seed 0x%016llx, scratch folder %s\n",
                static_cast<unsigned long long>(rows), static_cast<unsigned long long>(kSeed),
                paths.dir.c_str());
    const TableFacts facts = InChild("generating the table", [&] { return Generate(rows, paths); });
    const double utf16Bytes = 2.0 * static_cast<double>(facts.utf16Units);
    std::printf("table: %llu rows, %llu of them copies of earlier rows, %llu distinct\n",
                static_cast<unsigned long long>(facts.rows),
                static_cast<unsigned long long>(facts.copiedRows),
                static_cast<unsigned long long>(facts.uniqueRows));
    std::printf(
        "       %.1f MiB UTF-8, %.1f MiB as UTF-16; %.2f %% of characters outside the BMP\n",
        MiB(static_cast<double>(facts.bytes)), MiB(utf16Bytes),
        100.0 * static_cast<double>(facts.supplementary) /
            static_cast<double>(std::max<uint64_t>(facts.characters, 1)));
    std::printf("frequency file: %llu entries\n",
                static_cast<unsigned long long>(facts.frequencyEntries));
    std::printf(
        "every time is the best of %d runs, in ms; the setup before each run (reloading,\n"
        "reordering to source order) is not timed\n\n",
        kRuns);

    const std::string table = Quote(paths.table());
    const double iconv =
        TimeCommand("iconv -f UTF-8 -t UTF-16LE " + table + " > " + Quote(paths("iconv.out")));
    const double sortCode =
        TimeCommand("LC_ALL=C sort -s -t'\t' -k2,2 " + table + " > " + Quote(paths("sort.out")));
    const double sortUnique =
        TimeCommand("LC_ALL=C sort -u " + table + " > " + Quote(paths("sort_u.out")));

    struct rusage usage {};
    const StoreFigures f = InChild(
        "measuring the store", [&] { return MeasureStore(paths, facts); }, &usage);
    const double peak = MiB(static_cast<double>(usage.ru_maxrss) * 1024.0);

    std::printf("%-42s %10s %10s\n", "store", "ms", "MiB so far");
    for (int k = 0; k < kSteps; ++k) {
      if (k == kDataCopy) continue;
      std::printf("  %-40s %10.1f %10.1f", kStepNames[k], f.ms[k], f.peakMiB[k]);
      if (k == kLoad) PrintCount(facts.rows, "rows");
      if (k == kFilterA) PrintCount(facts.codeA, "visible");
      if (k == kFilterAb) PrintCount(facts.codeAb, "visible");
      if (k == kFilterExact) PrintCount(facts.codeAbc, "visible");
      if (k == kDedupe) PrintCount(facts.uniqueRows, "kept");
      std::printf("\n");
    }
    std::printf("reference\n");
    PrintTime(kStepNames[kDataCopy], f.ms[kDataCopy]);
    PrintTime("iconv -f UTF-8 -t UTF-16LE", iconv);
    PrintTime("LC_ALL=C sort -s -t TAB -k2,2", sortCode);
    PrintTime("LC_ALL=C sort -u", sortUnique);
    std::printf(
        "peak memory %.1f MiB: largest resident set of the process that ran the store steps\n"
        "  (mapped working files included, generator excluded); %.1f MiB before the store opened\n"
        "  anything, %.1f MiB after the first load; the table is %.1f MiB as UTF-16\n\n",
        peak, f.baselineMiB, f.firstLoadMiB, MiB(utf16Bytes));

    std::printf("ratios\n");
    PrintRatio("load / iconv decode", f.ms[kLoad] / iconv, "<=", 1.5);
    PrintRatio("filter \"a\" / plain copy of working data", f.ms[kFilterA] / f.ms[kDataCopy],
               "<=", 3);
    PrintRatio("filter \"ab\" / plain copy of working data", f.ms[kFilterAb] / f.ms[kDataCopy],
               "<=", 3);
    PrintRatio("filter exact \"abc\" / plain copy of working data",
               f.ms[kFilterExact] / f.ms[kDataCopy], "<=", 3);
    PrintRatio("code order 1 / sort -s -t TAB -k2,2", f.ms[kByCode1] / sortCode, "<", 1);
    PrintRatio("RemoveDuplicates / sort -u", f.ms[kDedupe] / sortUnique, "<", 1);
    PrintRatio("peak memory / UTF-16 size of the table", peak / MiB(utf16Bytes), "<=", 3);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "table_bench: %s\n", e.what());
    code = 1;
  }
  std::error_code ignored;
  fs::remove_all(paths.dir, ignored);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t rows = kDefaultRows;
  const char* tmp = std::getenv("TMPDIR");
  fs::path base = tmp && *tmp ? fs::path(tmp) : fs::path("/tmp");
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
  return Run(rows, base);
}
