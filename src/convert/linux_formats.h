// The table formats of the Linux input methods: fcitx5's table text and its
// binary dictionary (.main.dict), Rime's *.dict.yaml, ibus-table's source
// and its installed SQLite database.
//
// A LinuxTable holds one such table as it was read: the header verbatim (so
// that an unchanged table is written back byte for byte), the rows in
// candidate order, and the lines that are neither (comments, blank lines),
// pinned to the row they came before. These formats are UTF-8 on disk and in
// the input methods' own libraries, so rows stay UTF-8 here until they meet a
// Mirel table (ToMirelText / FromMirelText).
//
// Readers take bytes and return every line they could not take as a
// Diagnostic; nothing is dropped without one. The binary dictionary is read
// and written by the input method's own table library, never by hand; the
// database is read through SQLite and is never written.
//
// Order is candidate priority. Where a format carries weights (Rime's weight
// column when the dictionary sorts by weight, ibus-table's frequency), rows
// are read in the order the input method offers them (ties keep file order
// in both input methods). Saving such a table keeps the file's own order, so
// that a small edit is a small diff: rows stay on their lines and only the
// weights the new order needs change, to whole numbers strictly between the
// rows around them. fcitx5 offers the words of a code in file order and has
// no weights; its rows are written in the order given.
//
// Everything is reentrant; no state is shared between calls.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/status.h"

namespace mirel::linux_table {

enum class LinuxFormat { kFcitxText, kFcitxBinary, kRime, kIbusSource, kIbusDatabase };

struct LinuxFormatInfo {
  LinuxFormat format;
  std::string_view cliName;    // fcitx5, fcitx5-dict, rime, ibus, ibus-db
  std::u16string_view label;   // shown in the dialogs
  std::u16string_view suffix;  // replaces the source's extension on conversion
  bool writable;
};

const std::array<LinuxFormatInfo, 5>& LinuxFormats();
const LinuxFormatInfo& InfoOf(LinuxFormat format);
// Matches a cliName without regard to the case of A-Z.
std::optional<LinuxFormat> LinuxFormatFromCliName(std::string_view name);

struct Diagnostic {
  uint32_t line = 0;  // 1-based line of the source; 0 for the whole table
  std::string message;
};

struct LinuxRow {
  std::string code, entry;
  // The weight or frequency as written (empty: none). Kept as text so that
  // Rime's percentages and any spelling of a number survive.
  std::string weight;
  std::string stem;  // Rime's stem column
  uint32_t line = 0;
};

// A line kept as it was, written before row `beforeRow` (rows.size(): at the
// end of the body).
struct KeptLine {
  size_t beforeRow;
  std::string text;
};

// The settings every format has in some form, read from the header.
struct HeaderSettings {
  std::string name;
  std::string keys;                // the key set; empty when the header gives none
  uint32_t maxCodeLength = 0;      // 0: not given
  std::vector<std::string> rules;  // construction rules, fcitx5 notation: e2=p11+p12+p21+p22
};

struct LinuxTable {
  LinuxFormat format = LinuxFormat::kFcitxText;
  // fcitx5: every line before [Data] and that line; Rime: from the start of
  // the file to the "..." line ending the YAML document; ibus-table: the
  // lines up to and including BEGIN_TABLE. Lines end in LF.
  std::string header;
  // ibus-table: END_TABLE and everything after it.
  std::string footer;
  std::vector<LinuxRow> rows;
  std::vector<KeptLine> kept;
};

struct ReadResult {
  LinuxTable table;
  std::vector<Diagnostic> diagnostics;
};

// The settings of a header text of `format`; a header that does not parse
// (bad YAML) gives a Status naming the line.
Result<HeaderSettings> ParseHeader(LinuxFormat format, std::string_view header);

// A header of `format` carrying `settings`, for a table converted from
// another format. Rules the format cannot express are reported.
std::string BuildHeader(LinuxFormat format, const HeaderSettings& settings,
                        std::vector<Diagnostic>& diagnostics);

// Checks an edited header (the 表头 dialog) before it replaces the old one:
// it must parse and keep the shape the body needs (the [Data] line, the YAML
// document's end, BEGIN_TABLE).
Status ValidateHeader(LinuxFormat format, std::string_view header);

// Text readers and writers. The writers give the file's bytes.
Result<ReadResult> ReadFcitxText(std::string_view bytes);
Result<ReadResult> ReadRime(std::string_view bytes);
Result<ReadResult> ReadIbusSource(std::string_view bytes);
std::string WriteFcitxText(const LinuxTable& table);
std::string WriteRime(const LinuxTable& table);
std::string WriteIbusSource(const LinuxTable& table);

// The binary dictionary, through the input method's table library. The
// library trusts its input (a flipped bit makes it crash, spin or take
// gigabytes), so it runs in a child process under limits that grow with the
// input: a child that crashes, runs out of time or memory, or sends too much
// fails with "damaged fcitx5 table: crashed with signal 11 (...)", "... took
// longer than N s", "... needed more than N MiB". Without a runner, the real
// one is used.
Result<ReadResult> ReadFcitxBinary(std::string_view bytes);
Result<ReadResult> ReadFcitxBinary(std::string_view bytes, ProcessRunner& runner);
Result<std::string> WriteFcitxBinary(const LinuxTable& table);
Result<std::string> WriteFcitxBinary(const LinuxTable& table, ProcessRunner& runner);
// The limits of a child that reads or writes `inputBytes` bytes.
ChildLimits FcitxChildLimits(uint64_t inputBytes);

// The first row libime would leave out without a word (a key outside the
// key set, a repeated code and entry), if any.
std::optional<Diagnostic> FirstRowFcitxDrops(const LinuxTable& table);

// An installed ibus-table database, from its bytes (read only). The file is
// not trusted: phrases and ime must be stored tables, and a database that
// would take work or yield text far beyond its size is refused, as is any
// SQLite error, with "damaged ibus-table database: why". Rows and settings
// that cannot go into a source (control characters, NUL bytes, a frequency
// that is not a whole number) are reported.
Result<ReadResult> ReadIbusDatabase(std::string_view bytes);

// Guesses the format from a file's first bytes; nullopt when none fits.
std::optional<LinuxFormat> DetectLinuxFormat(std::string_view bytes);

// Reads any of the formats; the file is read once, through `fs`.
Result<ReadResult> ReadLinuxTable(FileSystem& fs, const std::filesystem::path& path,
                                  std::optional<LinuxFormat> format = std::nullopt);
// Writes atomically through `fs`.
Status WriteLinuxTable(FileSystem& fs, const std::filesystem::path& path, const LinuxTable& table);
Result<std::string> LinuxTableBytes(const LinuxTable& table);

// Recasts a table into another format: the header is built from the
// source's settings, rows the target cannot hold (a key outside its key set,
// a code longer than its maximum, a marker line with no counterpart) are
// left out and reported with their source line.
LinuxTable ConvertTable(const LinuxTable& source, LinuxFormat target,
                        std::vector<Diagnostic>& diagnostics);

// Rime loads a dictionary only from the file its name: names; this sets
// the header's name (adding it when missing).
void SetRimeName(LinuxTable& table, std::string_view name);
// The name a Rime dictionary file must carry: "x" for ".../x.dict.yaml",
// empty for any other file name.
std::string RimeNameOf(const std::filesystem::path& path);

// The rows as a Mirel text table: "entry TAB code" lines, in candidate
// order, without weights.
std::u16string ToMirelText(const LinuxTable& table);

// Rows of a Mirel table (entry, code) in the order they are to be offered,
// put back into `original`. Without weights they are written in this order,
// each with the kept lines it had before it. With weights each row found in
// `original` keeps its line, weight and stem; a row listed where one that is
// gone was offered is that row edited and takes its line and weight; other
// new rows follow the last row of their code (or end the table); the lines
// of deleted rows go. Then the rows out of order get new weights (a row
// moved up: a whole number above the row it passed and below the row before
// it, or the rows above raised too where none fits; among rows of equal
// weight, which the file orders, its line moves instead). A code holding a
// percentage, which the input method weighs itself, has its rows written in
// this order on its lines. Returns the new table.
struct MirelRow {
  std::u16string_view entry, code;
};
LinuxTable FromMirelRows(const LinuxTable& original, const std::vector<MirelRow>& rows);
// Cuts a Mirel text (entry TAB code lines) into rows; lines without a TAB
// are not rows.
std::vector<MirelRow> SplitMirelText(std::u16string_view text);

}  // namespace mirel::linux_table
