// Reads and writes the generated table in each format of the Linux input
// methods, side by side with libime_tabledict, fcitx5's own tool, on the
// same rows: its text-to-binary compile against our writers, its dump
// against our readers. Each of our steps reads or writes a whole file.
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unordered_set>

#include "bench_common.h"
#include "convert/linux_formats.h"

const char* const mirel_bench::kProgram = "linux_formats_bench";

using namespace mirel_bench;
namespace lt = mirel::linux_table;

namespace {

// The generated rows as a fcitx5 table: libime keeps one row of a code and
// entry, so the generator's copies are left out for every format alike.
lt::LinuxTable FcitxTable(const GeneratedTable& g) {
  lt::LinuxTable t;
  t.format = lt::LinuxFormat::kFcitxText;
  t.header = "KeyCode=abcdefghijklmnopqrstuvwxyz\nLength=4\n[Rule]\ne2=p11+p12+p21+p22\n[Data]\n";
  std::unordered_set<std::string_view> seen;
  seen.reserve(g.lines.size());
  uint32_t weight = static_cast<uint32_t>(g.lines.size());
  for (const GeneratedTable::Line& line : g.lines) {
    const std::string_view text = line.In(g.text);
    if (!seen.insert(text).second) continue;
    const size_t tab = text.find('\t');
    lt::LinuxRow row;
    row.entry.assign(text.substr(0, tab));
    row.code.assign(text.substr(tab + 1));
    row.weight = std::to_string(weight--);
    t.rows.push_back(std::move(row));
  }
  return t;
}

void MakeDatabase(const fs::path& path, const lt::LinuxTable& table) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
    throw BenchError("cannot make " + path.string());
  auto exec = [&](const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw BenchError(sqlite3_errmsg(db));
    }
  };
  exec(
      "CREATE TABLE ime (attr TEXT, val TEXT);"
      "INSERT INTO ime VALUES ('name', 'bench'), ('valid_input_chars', "
      "'abcdefghijklmnopqrstuvwxyz'), ('max_key_length', '4');"
      "CREATE TABLE phrases (id INTEGER PRIMARY KEY, tabkeys TEXT, phrase TEXT, freq INTEGER, "
      "user_freq INTEGER);"
      "BEGIN;");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO phrases (tabkeys, phrase, freq, user_freq) VALUES (?, ?, ?, 0)",
                     -1, &insert, nullptr);
  for (const lt::LinuxRow& row : table.rows) {
    sqlite3_bind_text(insert, 1, row.code.data(), static_cast<int>(row.code.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 2, row.entry.data(), static_cast<int>(row.entry.size()),
                      SQLITE_STATIC);
    sqlite3_bind_int64(insert, 3, std::stoll(row.weight));
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  exec("COMMIT;");
  sqlite3_close(db);
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t rows;
  fs::path base;
  if (int code = ParseArguments(argc, argv, rows, base); code >= 0) return code;
  const fs::path dir = MakeScratchFolder(base);
  if (dir.empty()) return 1;
  int status = 0;
  try {
    Rng rng(kSeed);
    lt::LinuxTable fcitx;
    {
      GeneratedTable generated = GenerateTable(rows, rng);
      fcitx = FcitxTable(generated);
    }
    std::vector<lt::Diagnostic> diagnostics;
    lt::LinuxTable rime = lt::ConvertTable(fcitx, lt::LinuxFormat::kRime, diagnostics);
    lt::LinuxTable ibus = lt::ConvertTable(fcitx, lt::LinuxFormat::kIbusSource, diagnostics);
    for (size_t k = 0; k < fcitx.rows.size(); ++k) {
      rime.rows[k].weight = ibus.rows[k].weight = fcitx.rows[k].weight;
    }
    for (lt::LinuxRow& row : fcitx.rows) row.weight.clear();
    if (!diagnostics.empty()) throw BenchError("rows left out: " + diagnostics.front().message);
    std::printf(
        "%s: %zu rows (%llu generated, copies left out), seed 0x%llx, best of %d runs (ms)\n",
        kProgram, fcitx.rows.size(), static_cast<unsigned long long>(rows),
        static_cast<unsigned long long>(kSeed), kRuns);

    const fs::path text = dir / "table.txt", binary = dir / "table.main.dict";
    Check(lt::WriteLinuxTable(BenchFs(), text, fcitx), "fcitx5 text");
    const double theirsCompile =
        TimeCommand("libime_tabledict " + Quote(text) + " " + Quote(binary));
    const double theirsDump =
        TimeCommand("libime_tabledict -d " + Quote(binary) + " " + Quote(dir / "dumped.txt"));

    struct Step {
      const char* name;
      double read, write;
    };
    std::vector<Step> steps;
    auto measure = [&](const char* name, lt::LinuxFormat format, const fs::path& path,
                       const lt::LinuxTable* table) {
      lt::LinuxTable read;
      double writeMs = 0;
      if (table) {
        writeMs =
            BestOf(NoSetup, [&] { Check(lt::WriteLinuxTable(BenchFs(), path, *table), name); });
      }
      const double readMs = BestOf(
          NoSetup, [&] { read = Check(lt::ReadLinuxTable(BenchFs(), path, format), name).table; });
      Expect(read.rows.size(), fcitx.rows.size(), std::string(name) + " rows");
      steps.push_back({name, readMs, writeMs});
    };
    measure("fcitx5 text", lt::LinuxFormat::kFcitxText, dir / "ours.txt", &fcitx);
    lt::LinuxTable asBinary = fcitx;
    asBinary.format = lt::LinuxFormat::kFcitxBinary;
    measure("fcitx5 .main.dict (through libime)", lt::LinuxFormat::kFcitxBinary,
            dir / "ours.main.dict", &asBinary);
    measure("Rime .dict.yaml", lt::LinuxFormat::kRime, dir / "ours.dict.yaml", &rime);
    measure("ibus-table source", lt::LinuxFormat::kIbusSource, dir / "ours_ibus.txt", &ibus);
    MakeDatabase(dir / "ours.db", ibus);
    measure("ibus-table database (read only)", lt::LinuxFormat::kIbusDatabase, dir / "ours.db",
            nullptr);

    std::printf("  %-44s %9s %9s\n", "", "read", "write");
    std::printf("  %-44s %9.1f %9.1f\n", "libime_tabledict (-d to read, compile to write)",
                theirsDump, theirsCompile);
    for (const Step& s : steps) std::printf("  %-44s %9.1f %9.1f\n", s.name, s.read, s.write);
    std::printf("ratios (ours / libime_tabledict)\n");
    for (const Step& s : steps) {
      PrintRatio((std::string(s.name) + " read").c_str(), s.read / theirsDump, "<=", 0.5);
      if (s.write > 0) {
        PrintRatio((std::string(s.name) + " write").c_str(), s.write / theirsCompile, "<=", 0.5);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    status = 1;
  }
  fs::remove_all(dir);
  return status;
}
