// Compiled tables (.ktb): the binary form the input method loads. A fixed
// 140-byte header, a table of record offsets in ascending key order, then the
// records back to back:
//   record: uint32 word (weight in bits 0-23, character-class bits 24-27,
//           mark group 28-29, "#a" 30, skip 31), uint8 L, L code bytes,
//           uint8 E, E UTF-16LE entry units.
// The key of a record is its code bytes, then its entry bytes, each compared
// as unsigned byte strings (shorter first on a common prefix).
//
// The compiler reads a code table text and writes a compiled table; the
// reader validates a compiled table completely before it reads any record
// and turns it back into a code table text. All functions are reentrant.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"
#include "store/character_class.h"
#include "store/lines_without_tab.h"
#include "store/text_file.h"

namespace mirel {

inline constexpr uint32_t kCompiledHeaderSize = 140;
inline constexpr std::u16string_view kCompiledTableName = u"系统码表";
inline constexpr uint32_t kMarkGroupMask = 0x30000000;
inline constexpr uint32_t kMarkA = 0x40000000;
inline constexpr uint32_t kSkipRecord = 0x80000000;
inline constexpr size_t kMaxCodeUnits = 127;
inline constexpr size_t kMaxEntryUnits = 255;

// Header bytes 36 to 69, which only the input method interprets. A table read
// from a compiled file keeps them so that compiling it again writes them back
// unchanged; a table compiled from scratch has zeros.
struct OpaqueHeader {
  static constexpr size_t kOffset = 36;
  std::array<std::byte, 34> bytes{};
};

// One line of a source text prepared for compiling. The views point into the
// text that ParseTableText rewrote in place.
struct ParsedLine {
  std::u16string_view entry;  // escapes resolved
  std::u16string_view code;   // marks removed, at most 127 units
  uint32_t marks = 0;         // mark bits 28-30
  uint32_t index = 0;         // position among the parsed lines, from 0
};

// Splits a code table text at its line ends (CR LF, CR or LF) and parses each
// line: "//" comments, "///" for a leading "//", entry TAB code, marks "#1"
// "#2" "#3" "#a" and "##" in the code, escapes \r \t \\ in the entry. Lines
// without a TAB, with an empty code or with a code unit outside the code
// alphabet are skipped. `visit` is called once per parsed line, in order.
void ParseTableText(std::u16string& text, const std::function<void(const ParsedLine&)>& visit);
std::vector<ParsedLine> ParseTableText(std::u16string& text);

// The code byte of a unit (0 for units outside the code alphabet) and back.
uint8_t CodeByte(char16_t unit);
char16_t CodeUnit(uint8_t byte);

// Progress and messages of a compile: a message comes with (text, 0, 0), the
// progress with ("", percent, 100).
using CompileReport = std::function<void(std::u16string_view text, int value, int total)>;

struct CompileSummary {
  uint32_t parsedLines = 0;  // lines that qualified
  uint32_t records = 0;      // A, after duplicates were dropped
  uint32_t dataSize = 0;     // bytes of all records
  uint32_t fileSize = 0;
  LinesWithoutTab linesWithoutTab;  // left out; comment lines do not count
};

// Compiles `text` (which it rewrites) and passes the file's bytes to `sink`
// in order. Fails, writing nothing, when no line qualifies or the table
// would not fit in 4 GiB.
Result<CompileSummary> CompileTableText(
    std::u16string& text, const CharacterClassTable& classes, const OpaqueHeader& opaque,
    const CompileReport& report, const std::function<void(std::span<const std::byte>)>& sink);

// Reads `textPath` (any supported text encoding, or a compiled table, known
// by its header) and writes the compiled table to `outPath`, replacing it
// atomically. A .ktb that is not a compiled table is refused.
Result<CompileSummary> CompileTable(FileSystem& fs, const std::filesystem::path& textPath,
                                    const std::filesystem::path& outPath,
                                    const CharacterClassTable& classes, const OpaqueHeader& opaque,
                                    const CompileReport& report = {});

// Checks every count, offset and length of a compiled table against its
// size. The status names the first fault found.
Status ValidateCompiledTable(std::span<const std::byte> table);

OpaqueHeader ReadOpaqueHeader(std::span<const std::byte> table);

// The code table text of a compiled table, after validating it: lines in
// reading order (mark groups #3, #2, #1, then unmarked; within a group by
// descending weight, later records first on equal weights), each
// "entry TAB code" plus its marks, ended by CR LF. The text goes to `sink`
// in pieces, without a byte-order mark.
Status WriteCompiledTableText(std::span<const std::byte> table,
                              const std::function<void(std::u16string_view)>& sink);
Result<std::u16string> CompiledTableToText(std::span<const std::byte> table);

// Reads `tablePath` and writes its text to `textPath` (UTF-16LE with mark,
// atomically). Returns the header values to write back on a later compile.
Result<OpaqueHeader> CompiledTableToTextFile(FileSystem& fs, const std::filesystem::path& tablePath,
                                             const std::filesystem::path& textPath);

// Whether a file's first bytes are a compiled table's header: its size
// field, then the table kind (1, 3, 4 or 5) as a 32-bit number at byte 12.
// No text can hold that: the kind's three zero bytes would be NUL
// characters. A damaged compiled table still has the header and is refused
// as such rather than read as text.
inline constexpr size_t kCompiledSignatureSize = 16;
bool HasCompiledTableHeader(std::span<const std::byte> head);

// Whether the file at `path` starts with a compiled table's header; reads
// only the first bytes. A stream cannot be looked at twice and counts as
// text. Fails when the file cannot be opened or read.
Result<bool> IsCompiledTableFile(FileSystem& fs, const std::filesystem::path& path);

// Refuses a file named .ktb (in any case) whose bytes are not a compiled
// table: it would be read as one and mean nothing.
Status RefuseFalseCompiledTable(const std::filesystem::path& path);

// Reads a table argument: a file with a compiled table's header decoded to its
// code table text, whatever its name; any other file decoded as text
// (ReadTextFile). A damaged compiled table, and a .ktb that is not one, are
// refused, naming the file.
Result<TextBuffer> ReadTableText(FileSystem& fs, const std::filesystem::path& path);

// Reads a file that must be a text, not a code table: a compiled table
// (found by its header, whatever its name) is refused; `role` names what the
// file was meant to be ("split table"). Otherwise as ReadTextFile.
Result<TextBuffer> ReadPlainText(FileSystem& fs, const std::filesystem::path& path,
                                 std::string_view role);

// The refusal of a compiled table given as `role`.
Status CompiledTableRefused(const std::filesystem::path& path, std::string_view role);

}  // namespace mirel
