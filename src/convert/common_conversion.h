// Conversion of a text code table between six common line formats: the
// Windows table, 酷极/极点, 搜狗, QQ, 加加 and Mirel. A conversion runs in two
// stages through one intermediate file in the private temporary folder: the
// source lines are parsed into code/entry/weight records written to that
// file, the file is read back, and the target writer formats the records
// (numbering the entries of each code for 搜狗 and QQ). Also here: the guess
// of a text's format from its first lines, the output path beside the source,
// and the texts the dialog shows.
//
// Every stage is a plain function over views so that it can be tested and
// fuzzed alone; records borrow the text they were cut from, which must
// outlive them. Everything is reentrant, except that two conversions at once
// must not share a temporary folder: ConvertCommonFormat touches only its
// output file and the intermediate file of that folder.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"
#include "platform/temp_folder.h"

namespace mirel {

// Numbered as the dialog numbers them; the order is also the detection
// priority.
enum class TableFormat { kWindows = 1, kKuji = 2, kSogou = 3, kQq = 4, kJiajia = 5, kMirel = 6 };

struct FormatInfo {
  TableFormat format;
  std::u16string_view radioText;       // the source radio button
  std::u16string_view targetText;      // the target button
  std::u16string_view suffix;          // replaces the source's extension
  std::u16string_view successMessage;  // one %d: the count
  std::string_view cliName;
};

inline constexpr std::u16string_view kCommonConversionTitle = u"常见码表格式互转";
inline constexpr std::u16string_view kCommonConversionCaption = u"Mirel码表管理工具";
inline constexpr std::u16string_view kFormatNotRecognisedMessage =
    u"应用程序无法正确识别您的原始码表格式，请于“源码表格式”中选择，如未列出，请使用本工具的“高级码"
    u"表格式转换”执行转换。";
inline constexpr std::u16string_view kCommonConversionFailedMessage =
    u"未能依据选定格式转换码表，请确定您的源码表格式后执行转换。";
inline constexpr std::u16string_view kIntermediateFileName = u"_convert_temp_.txt";

// In format-number order.
const std::array<FormatInfo, 6>& TableFormats();
const FormatInfo& InfoOf(TableFormat format);
// "win", "kuji", "sogou", "qq", "jiajia" or "mirel", ignoring the case of A-Z.
std::optional<TableFormat> FormatFromCliName(std::string_view name);

// The longest source line; the rest of a longer line is read as the next line.
inline constexpr size_t kCommonLineLimit = 4095;

// Cuts a text into lines at every run of CR and LF, so there are no blank
// lines, except one empty first line when the text begins with a line break.
class SourceLineReader {
 public:
  explicit SourceLineReader(std::u16string_view text) : text_(text) {}
  bool Next(std::u16string_view& line);

 private:
  std::u16string_view text_;
  size_t pos_ = 0;
  bool first_ = true;
};

std::vector<std::u16string_view> SplitSourceLines(std::u16string_view text,
                                                  size_t maxLines = SIZE_MAX);

inline constexpr size_t kDetectionSampleLines = 10;

struct Detection {
  std::optional<TableFormat> format;  // set when exactly one flag survived
  std::array<bool, 6> flags{};        // formats that fit every sample line, by number
  size_t sampleLines = 0;             // with none, every flag stays set
};

// Guesses the format from the first lines of `text`.
Detection DetectFormat(std::u16string_view text);

// The source path with everything from the last "." of its file name on
// replaced by the target's suffix; empty when the file name has no ".".
std::filesystem::path CommonConversionOutputPath(const std::filesystem::path& source,
                                                 TableFormat target);

// Converts `sourceText` (the whole source file, decoded) from one format to
// another and writes the result to `output` (UTF-16LE with the mark, lines
// ended by CR LF, replaced atomically). Returns the number of lines written:
// one per record, or one per code for 酷极/极点. A source that yields no
// record, or any stage that fails, gives a Status naming the stage; a fault
// of the source names `source`, the file the text came from.
Result<uint64_t> ConvertCommonFormat(FileSystem& fs, std::u16string_view sourceText,
                                     TableFormat from, TableFormat to,
                                     const std::filesystem::path& output, const TempFolder& temp,
                                     const std::filesystem::path& source);

// The stages, public so that they can be tested and fuzzed alone.
namespace common_format {

// Gathers text and hands it on in pieces, so that large outputs stream to a
// file without being held whole.
class ChunkedText {
 public:
  using Drain = std::function<void(std::u16string_view)>;
  explicit ChunkedText(Drain drain, size_t chunkUnits = size_t{1} << 15);
  ~ChunkedText() { Flush(); }
  ChunkedText(const ChunkedText&) = delete;
  ChunkedText& operator=(const ChunkedText&) = delete;

  void Append(std::u16string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= chunkUnits_) Flush();
  }
  void Append(char16_t unit) {
    buffer_.push_back(unit);
    if (buffer_.size() >= chunkUnits_) Flush();
  }
  void Flush();

 private:
  Drain drain_;
  size_t chunkUnits_;
  std::u16string buffer_;
};

// The tests of format detection, one source line each. The 搜狗 and QQ tests
// also give the places of their separators, which their parsers use.
bool FitsWindows(std::u16string_view line);
bool FitsKuji(std::u16string_view line);
struct Separators {
  size_t first, second;  // 搜狗: "," then "="; QQ: "=" then ","
};
std::optional<Separators> FitsSogou(std::u16string_view line);
std::optional<Separators> FitsQq(std::u16string_view line);
bool FitsJiajia(std::u16string_view line);
bool FitsMirel(std::u16string_view line);

// A record of stage one. `position` is the position text of a 搜狗 or QQ
// line, empty for the other formats.
struct SourceRecord {
  std::u16string_view code, entry, position;
};

// Parses one source line of `format`, appending its records to `out`.
// Returns whether the line was accepted (an accepted line may give none).
bool ParseSourceLine(TableFormat format, std::u16string_view line, std::vector<SourceRecord>& out);

// Writes the intermediate file's text (without the mark) for the whole
// source; returns the number of accepted lines.
uint64_t WriteIntermediateText(std::u16string_view sourceText, TableFormat from, ChunkedText& out);

// A record read back from the intermediate file. `position` is set by
// NumberRecords.
struct CommonRecord {
  std::u16string_view code, entry, weight;
  uint32_t position = 0;
};

// Cuts the intermediate text (without the mark) at CR LF pairs; pieces
// without a tab are dropped.
std::vector<CommonRecord> ReadBackRecords(std::u16string_view text);

// Sets each record's position: the number its weight begins with, or else
// its rank among the records of its code in file order (always 1 for a code
// of more than 127 units).
void NumberRecords(std::span<CommonRecord> records);

// Writes the target's lines (without the mark); returns the number of lines.
// 酷极/极点 gets one line per code in the order codes first appear, except
// that each record of a code of more than 127 units gets a line of its own.
uint64_t WriteTargetText(TableFormat target, std::span<const CommonRecord> records,
                         ChunkedText& out);
std::u16string TargetText(TableFormat target, std::span<const CommonRecord> records,
                          uint64_t* lines = nullptr);

// Stages one and two of a conversion: the source parsed into the
// intermediate file, and that file read back. The records borrow `text`,
// which the pointer keeps in place.
struct StagedRecords {
  std::unique_ptr<std::u16string> text;
  std::vector<CommonRecord> records;
};
Result<StagedRecords> StageRecords(FileSystem& fs, std::u16string_view sourceText, TableFormat from,
                                   const TempFolder& temp, const std::filesystem::path& source);
// The last stage: numbers the records for 搜狗 and QQ and writes the target
// file; returns the number of lines.
Result<uint64_t> WriteRecords(FileSystem& fs, std::span<CommonRecord> records, TableFormat to,
                              const std::filesystem::path& output);

}  // namespace common_format
}  // namespace mirel
