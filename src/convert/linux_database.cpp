// ibus-table's installed database, read through SQLite from bytes already in
// memory. A .db file can come from anywhere (a download, another user's
// folder), so the connection trusts nothing in it: phrases and ime must be
// plain tables, views and triggers are switched off, schema functions are
// untrusted, no query sorts or spills to a temporary file, and all the work
// and all the text taken out are bounded by the file's size. Nothing leaves
// this file but a Status.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <memory>

#include "convert/linux_formats.h"
#include "platform/messages.h"

namespace mirel::linux_table {
namespace {

// A scan costs some twenty VM steps a row and a row takes at least a few
// bytes of the file; the budget leaves a wide margin over both.
constexpr int kStepsPerCheck = 1000;
constexpr uint64_t kStepsPerByte = 64;
constexpr uint64_t kBaseSteps = 2'000'000;
// A real database holds its text once, beside indexes and page overhead. A
// column added later with a DEFAULT lends every old row that value without
// storing it, which is how a small file could claim gigabytes of text.
constexpr uint64_t kTextPerByte = 2;
constexpr uint64_t kBaseText = 1 << 20;

using Db = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;
using Stmt = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

struct Budget {
  uint64_t checksLeft;
  bool spent = false;
};

int OnProgress(void* context) {
  auto* budget = static_cast<Budget*>(context);
  if (budget->checksLeft == 0) {
    budget->spent = true;
    return 1;
  }
  --budget->checksLeft;
  return 0;
}

Status Damaged(const std::string& why) {
  return Status::Corrupt(Tr("damaged ibus-table database"), why);
}

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7F'; });
}

// The value of the id column, ordered as SQLite orders mixed types: NULL,
// numbers, text, blobs. Real databases have integer ids only.
struct IdKey {
  int kind = 0;
  int64_t integer = 0;
  double real = 0;
  bool isInteger = true;
  std::string bytes;

  bool operator<(const IdKey& o) const {
    if (kind != o.kind) return kind < o.kind;
    if (kind == 1) {
      if (isInteger && o.isInteger) return integer < o.integer;
      return (isInteger ? double(integer) : real) < (o.isInteger ? double(o.integer) : o.real);
    }
    return bytes < o.bytes;
  }
};

// What a row's values were in SQLite, beside the text kept in its LinuxRow.
struct PhraseTypes {
  IdKey id;
  bool blobText = false;
  int weightType = SQLITE_NULL;
};

class DatabaseReader {
 public:
  explicit DatabaseReader(std::string_view bytes)
      : bytes_(bytes),
        budget_{(kBaseSteps + bytes.size() * kStepsPerByte) / kStepsPerCheck},
        textLeft_(kBaseText + bytes.size() * kTextPerByte) {}

  Result<ReadResult> Read() {
    if (Status s = Open(); !s.IsOk()) return s;
    if (Status s = RequireTable("ime"); !s.IsOk()) return s;
    if (Status s = RequireTable("phrases"); !s.IsOk()) return s;
    ReadResult out;
    out.table.format = LinuxFormat::kIbusDatabase;
    if (Status s = ReadSettings(out); !s.IsOk()) return s;
    if (Status s = ReadPhrases(out); !s.IsOk()) return s;
    return out;
  }

 private:
  Status Open() {
    // A database in WAL mode cannot be opened from memory; its main file
    // alone is still a complete (if older) database once it says so.
    if (bytes_.size() > 19 && (bytes_[18] == 2 || bytes_[19] == 2)) {
      patched_.assign(bytes_);
      patched_[18] = patched_[19] = 1;
      bytes_ = patched_;
    }
    // The connection never leaves this object's thread, so it takes no locks.
    sqlite3* raw = nullptr;
    const int opened =
        sqlite3_open_v2(":memory:", &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(raw);
    if (opened != SQLITE_OK) return Status::NoMemory("ibus-table database");
    // Everything that could run code from the file or reach beyond it goes
    // before the file is attached.
    sqlite3_db_config(raw, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    const int longest = static_cast<int>(std::min<uint64_t>(kBaseText + bytes_.size(), 1 << 30));
    sqlite3_limit(raw, SQLITE_LIMIT_LENGTH, longest);
    sqlite3_limit(raw, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_limit(raw, SQLITE_LIMIT_WORKER_THREADS, 0);
    sqlite3_limit(raw, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 256);
    sqlite3_progress_handler(raw, kStepsPerCheck, OnProgress, &budget_);
    if (sqlite3_exec(raw, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr) != SQLITE_OK) {
      return Failure(SQLITE_ERROR);
    }
    // Read only, and without FREEONCLOSE SQLite neither writes nor frees
    // the bytes it is lent.
    auto* data = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes_.data()));
    const auto size = static_cast<sqlite3_int64>(bytes_.size());
    const int rc = sqlite3_deserialize(raw, "main", data, size, size, SQLITE_DESERIALIZE_READONLY);
    if (rc != SQLITE_OK) return Failure(rc);
    // Pages are then read in place from the lent bytes rather than copied.
    const std::string mmap = "PRAGMA mmap_size=" + std::to_string(bytes_.size());
    if (sqlite3_exec(raw, mmap.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      return Failure(SQLITE_ERROR);
    }
    return Status::Ok();
  }

  Result<Stmt> Prepare(const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db_.get(), sql, -1, &stmt, nullptr);
    Stmt owned(stmt, sqlite3_finalize);
    if (rc != SQLITE_OK) return Failure(rc);
    return owned;
  }

  Status Failure(int rc) {
    if (budget_.spent) return Damaged(Tr("reading it takes far too long for its size"));
    if (rc == SQLITE_NOMEM) return Status::NoMemory("ibus-table database");
    return Damaged(sqlite3_errmsg(db_.get()));
  }

  // Views (also virtual tables) could compute any number of rows from a
  // few bytes; only a stored table is bounded by the file.
  Status RequireTable(const char* name) {
    Result<Stmt> stmt = Prepare(
        "SELECT type, sql FROM sqlite_schema WHERE name = ?1 COLLATE NOCASE "
        "AND type IN ('table', 'view')");
    if (!stmt.IsOk()) return stmt.status();
    sqlite3_bind_text(stmt->get(), 1, name, -1, SQLITE_STATIC);
    const int rc = sqlite3_step(stmt->get());
    if (rc == SQLITE_DONE) return Damaged(Tr("no {1} table", name));
    if (rc != SQLITE_ROW) return Failure(rc);
    const std::string type = Text(stmt->get(), 0);
    std::string sql = Text(stmt->get(), 1).substr(0, 20);
    std::transform(sql.begin(), sql.end(), sql.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; });
    if (type != "table") return Damaged(Tr("{1} is a {2}, not a table", name, type));
    if (sql.starts_with("CREATE VIRTUAL")) {
      return Damaged(Tr("{1} is a virtual table, not a stored one", name));
    }
    return Status::Ok();
  }

  // A column's bytes in full, NUL bytes included; counted against the text
  // the file may yield.
  std::string Text(sqlite3_stmt* stmt, int i) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
    const size_t size = static_cast<size_t>(sqlite3_column_bytes(stmt, i));
    if (!text) return {};
    textLeft_ -= std::min<uint64_t>(textLeft_, size);
    if (textLeft_ == 0) tooMuchText_ = true;
    return std::string(text, size);
  }

  Status TextOverrun() {
    return Damaged(Tr("its rows hold far more text than the file (columns with a large default?)"));
  }

  // The settings become a source's definition block, so that a table read
  // from the database can be written as source and built again.
  Status ReadSettings(ReadResult& out) {
    Result<Stmt> stmt = Prepare("SELECT attr, val FROM ime");
    if (!stmt.IsOk()) return stmt.status();
    LinuxTable& table = out.table;
    table.header = "BEGIN_DEFINITION\n";
    int rc;
    while ((rc = sqlite3_step(stmt->get())) == SQLITE_ROW) {
      std::string attr = Text(stmt->get(), 0), val = Text(stmt->get(), 1);
      if (tooMuchText_) return TextOverrun();
      for (char& c : attr) c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
      const bool blob = sqlite3_column_type(stmt->get(), 0) == SQLITE_BLOB ||
                        sqlite3_column_type(stmt->get(), 1) == SQLITE_BLOB;
      // A line break or any other control byte would end the setting's line
      // early and put the rest into the definition block as a line of its own.
      if (blob || attr.empty() || attr.find('=') != std::string::npos || HasControl(attr) ||
          HasControl(val)) {
        std::string shown = attr.substr(0, 40);
        for (char& c : shown) c = HasControl(std::string_view(&c, 1)) ? '?' : c;
        out.diagnostics.push_back(
            {0,
             Tr("setting \"{1}\" is not a plain name and one-line text value; left out", shown)});

        continue;
      }
      table.header += attr + " = " + val + "\n";
    }
    if (rc != SQLITE_DONE) return Failure(rc);
    table.header += "END_DEFINITION\nBEGIN_TABLE\n";
    table.footer = "END_TABLE\n";
    return Status::Ok();
  }

  // No ORDER BY: on a table without an index on id SQLite would sort in a
  // temporary file as large as the table; the rows are sorted in memory
  // instead, where the text bound holds them.
  Status ScanPhrases(std::vector<LinuxRow>& rows, std::vector<PhraseTypes>& types) {
    Result<Stmt> stmt = Prepare("SELECT id, tabkeys, phrase, freq FROM phrases");
    if (!stmt.IsOk()) return stmt.status();
    sqlite3_stmt* s = stmt->get();
    rows.reserve(bytes_.size() / 32);
    types.reserve(bytes_.size() / 32);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      PhraseTypes& t = types.emplace_back();
      switch (sqlite3_column_type(s, 0)) {
        case SQLITE_NULL:
          t.id.kind = 0;
          break;
        case SQLITE_INTEGER:
          t.id.kind = 1;
          t.id.integer = sqlite3_column_int64(s, 0);
          break;
        case SQLITE_FLOAT:
          t.id.kind = 1;
          t.id.isInteger = false;
          t.id.real = sqlite3_column_double(s, 0);
          break;
        default:
          t.id.kind = sqlite3_column_type(s, 0) == SQLITE_TEXT ? 2 : 3;
          t.id.bytes = Text(s, 0);
      }
      t.blobText =
          sqlite3_column_type(s, 1) == SQLITE_BLOB || sqlite3_column_type(s, 2) == SQLITE_BLOB;
      t.weightType = sqlite3_column_type(s, 3);
      LinuxRow& row = rows.emplace_back();
      row.code = Text(s, 1);
      row.entry = Text(s, 2);
      if (t.weightType != SQLITE_BLOB) row.weight = Text(s, 3);
      if (tooMuchText_) return TextOverrun();
    }
    return rc == SQLITE_DONE ? Status::Ok() : Failure(rc);
  }

  Status ReadPhrases(ReadResult& out) {
    std::vector<LinuxRow> rows;
    std::vector<PhraseTypes> types;
    if (Status s = ScanPhrases(rows, types); !s.IsOk()) return s;
    // In the order the rows were built; candidate order comes from the
    // frequencies, as for the source.
    auto byId = [](const PhraseTypes& a, const PhraseTypes& b) { return a.id < b.id; };
    std::vector<uint32_t> order(rows.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    if (!std::is_sorted(types.begin(), types.end(), byId)) {
      std::stable_sort(order.begin(), order.end(),
                       [&](uint32_t a, uint32_t b) { return byId(types[a], types[b]); });
    }
    LinuxTable& table = out.table;
    table.rows.reserve(rows.size());
    uint32_t n = 0;
    for (uint32_t place : order) {
      LinuxRow& row = rows[place];
      const PhraseTypes& t = types[place];
      row.line = ++n;
      auto report = [&](const std::string& what) { out.diagnostics.push_back({n, what}); };
      if (row.code.empty() || row.entry.empty()) {
        report(Tr("phrase {1} has no code or no text; left out", n));
        continue;
      }
      // A NUL would cut the text short on the way to the input method; a
      // control byte breaks the source's line or its columns.
      if (t.blobText || HasControl(row.code) || HasControl(row.entry)) {
        report(Tr("phrase {1} holds a control character, a NUL byte or raw bytes; left out", n));
        continue;
      }
      if (Status s = WholeNumber(row.weight, t.weightType); !s.IsOk()) {
        report(Tr("phrase {1} ({2} {3}) has a frequency that is not a whole number; taken as 0", n,
                  row.code, row.entry));
      }
      table.rows.push_back(std::move(row));
    }
    return Status::Ok();
  }

  // ibus-table-createdb takes whole numbers only: `weight` becomes one, or
  // empty (0) with a failure for anything else.
  static Status WholeNumber(std::string& weight, int type) {
    if (type == SQLITE_NULL || type == SQLITE_INTEGER) return Status::Ok();
    const char* first = weight.data();
    const char* last = first + weight.size();
    int64_t integer = 0;
    double real = 0;
    if (type == SQLITE_BLOB) {
      // never taken as text
    } else if (auto [ptr, ec] = std::from_chars(first, last, integer);
               ec == std::errc() && ptr == last) {
      weight = std::to_string(integer);
      return Status::Ok();
    } else if (auto [end, error] = std::from_chars(first, last, real);
               error == std::errc() && end == last && real > -9e18 && real < 9e18 &&
               real == static_cast<double>(static_cast<int64_t>(real))) {
      weight = std::to_string(static_cast<int64_t>(real));
      return Status::Ok();
    }
    weight.clear();
    return Status::InvalidArgument("frequency", Tr("not a whole number"));
  }

  std::string_view bytes_;
  std::string patched_;
  Budget budget_;
  uint64_t textLeft_;
  bool tooMuchText_ = false;
  Db db_{nullptr, sqlite3_close};
};

}  // namespace

Result<ReadResult> ReadIbusDatabase(std::string_view bytes) {
  try {
    return DatabaseReader(bytes).Read();
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("ibus-table database");
  }
}

}  // namespace mirel::linux_table
