#include "convert/common_conversion.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>

#include "platform/hash_index.h"
#include "platform/lines.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {
namespace {

constexpr std::array<FormatInfo, 6> kFormats = {{
    {TableFormat::kWindows, u"win码表格式", u"转win码表格式", u"___win格式.txt",
     u"成功转换为win码表格式，转换条数：%d。\r\n是否现在查看转换文件？", "win"},
    {TableFormat::kKuji, u"酷极、极点格式", u"转酷极、极点格式", u"___酷极格式.txt",
     u"成功转换为酷极码表格式，转换条数：%d。\r\n是否现在查看转换文件？", "kuji"},
    {TableFormat::kSogou, u"搜狗格式", u"转搜狗格式", u"___搜狗格式.txt",
     u"成功转换为搜狗码表格式，转换条数：%d。\r\n是否现在查看转换文件？", "sogou"},
    {TableFormat::kQq, u"QQ格式", u"转QQ格式", u"___qq格式.txt",
     u"成功转换为qq码表格式，转换条数：%d。\r\n是否现在查看转换文件？", "qq"},
    {TableFormat::kJiajia, u"加加格式", u"转加加格式", u"___加加格式.txt",
     u"成功转换为加加码表格式，转换条数：%d。\r\n是否现在查看转换文件？", "jiajia"},
    {TableFormat::kMirel, u"Mirel格式", u"转Mirel格式", u"___Mirel格式.txt",
     u"成功转换为Mirel码表格式，转换条数：%d。\r\n是否现在查看转换文件？", "mirel"},
}};

// Only codes of at most this many units group together: records are grouped
// by comparing each code with a copy of the previous one kept in a buffer of
// this size, so each record of a longer code stands alone.
constexpr size_t kRememberedCode = 127;
// The Windows table's code part is read into a buffer of the same size.
constexpr size_t kWindowsCodePart = 127;
constexpr uint32_t kMaxPosition = std::numeric_limits<int32_t>::max();

bool Below(char16_t u) { return u < 0x80; }
bool Above(char16_t u) { return u > 0x80; }

// The next piece of `text` between runs of spaces, starting the search at
// `pos`; `pos` is left just past the piece.
bool NextPiece(std::u16string_view text, size_t& pos, std::u16string_view& piece) {
  while (pos < text.size() && text[pos] == u' ') ++pos;
  if (pos >= text.size()) return false;
  const size_t start = pos;
  while (pos < text.size() && text[pos] != u' ') ++pos;
  piece = text.substr(start, pos - start);
  return true;
}

bool ParseWindows(std::u16string_view line, std::vector<common_format::SourceRecord>& out) {
  if (line.size() < 2) return false;
  // The last character always belongs to the code part.
  size_t split = std::u16string_view::npos;
  for (size_t k = line.size() - 1; k-- > 0;) {
    if (line[k] >= 0x80) {
      split = k;
      break;
    }
  }
  if (split == std::u16string_view::npos) return false;
  const std::u16string_view entry = line.substr(0, split + 1);
  const std::u16string_view codes = line.substr(split + 1, kWindowsCodePart);
  size_t pos = 0;
  std::u16string_view piece;
  while (NextPiece(codes, pos, piece)) out.push_back({piece, entry, {}});
  return true;
}

bool ParseKuji(std::u16string_view line, std::vector<common_format::SourceRecord>& out) {
  size_t pos = 0;
  std::u16string_view piece;
  if (!NextPiece(line, pos, piece) || !Below(piece.front())) return false;
  const std::u16string_view code = line.substr(0, pos);  // leading spaces stay
  while (NextPiece(line, pos, piece)) out.push_back({code, piece, {}});
  return true;
}

uint32_t LeadingNumber(std::u16string_view text) {
  uint32_t value = 0;
  for (char16_t u : text) {
    if (u < u'0' || u > u'9') break;
    value = std::min<uint64_t>(uint64_t{value} * 10 + (u - u'0'), kMaxPosition);
  }
  return value;
}

void AppendNumber(common_format::ChunkedText& out, uint32_t value) {
  char16_t digits[10];
  size_t at = std::size(digits);
  do {
    digits[--at] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  out.Append(std::u16string_view(digits + at, std::size(digits) - at));
}

// From codes to a value per code. A slot keeps the first four units of its
// code, so the short codes tables are made of compare without touching their
// text; for longer ones the slot names a record holding the code, and the
// records must not change while the table is used.
class CodeTable {
 public:
  // Tables hold fewer codes than records, often far fewer, so the table
  // starts small and grows.
  explicit CodeTable(std::span<const common_format::CommonRecord> records)
      : records_(records), index_(Policy{records}, 1024) {}

  // The value of the code of record `index`; a code not seen before gets
  // `fresh`, and `inserted` tells which happened. The reference is good until
  // the next lookup.
  uint32_t& Lookup(uint32_t index, const HashProbe& p, uint32_t fresh, bool& inserted) {
    const auto [slot, isNew] = index_.Insert(p, [&](Slot& s) {
      s = Slot{p.packed, static_cast<uint32_t>(p.key.size()), p.hash, index + 1, fresh};
    });
    inserted = isNew;
    return slot->value;
  }

  // Calls visit(index, probe) for every record in file order, the probes
  // prepared a batch ahead.
  template <class Visit>
  void ForEach(Visit visit) {
    PrefetchedPass(
        records_.size(), [&](size_t i) { return index_.Prepare(records_[i].code); },
        [&](size_t i, const HashProbe& p) { visit(static_cast<uint32_t>(i), p); });
  }

 private:
  struct Slot {
    uint64_t key = 0;
    uint32_t length = 0, hash = 0;
    uint32_t recordPlusOne = 0;
    uint32_t value = 0;
  };
  // Memory is not what limits a conversion, so the slots keep the whole hash
  // and stay at most half full, doubling as they go.
  struct Policy {
    using Slot = CodeTable::Slot;
    std::span<const common_format::CommonRecord> records;
    static bool IsEmpty(const Slot& slot) { return slot.recordPlusOne == 0; }
    bool Matches(const Slot& slot, const HashProbe& p) const {
      return slot.hash == p.hash && slot.length == p.key.size() && slot.key == p.packed &&
             (p.key.size() <= kPackedUnits || records[slot.recordPlusOne - 1].code == p.key);
    }
    uint32_t HashOf(const Slot& slot) const { return slot.hash; }
    static bool IsFull(size_t used, size_t size) { return 2 * used > size; }
    static size_t GrownSize(size_t size) { return 2 * size; }
  };

  std::span<const common_format::CommonRecord> records_;
  HashIndex<Policy> index_;
};

uint64_t WriteKuji(std::span<const common_format::CommonRecord> records,
                   common_format::ChunkedText& out) {
  // Groups are numbered in the order their codes first appear, which is the
  // order of the output lines.
  const uint32_t n = static_cast<uint32_t>(records.size());
  std::vector<uint32_t> groupOf(n);
  std::vector<uint32_t> firstRecord;
  CodeTable table(records);
  table.ForEach([&](uint32_t i, const HashProbe& probe) {
    const uint32_t next = static_cast<uint32_t>(firstRecord.size());
    bool inserted = true;
    uint32_t group = next;
    if (probe.key.size() <= kRememberedCode) group = table.Lookup(i, probe, next, inserted);
    if (inserted) firstRecord.push_back(i);
    groupOf[i] = group;
  });
  // Records by group, in file order within each (a counting sort).
  const size_t groups = firstRecord.size();
  std::vector<uint32_t> start(groups + 1, 0);
  for (uint32_t g : groupOf) ++start[g + 1];
  for (size_t g = 0; g < groups; ++g) start[g + 1] += start[g];
  std::vector<uint32_t> order(n);
  {
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (uint32_t i = 0; i < n; ++i) order[fill[groupOf[i]]++] = i;
  }
  for (size_t g = 0; g < groups; ++g) {
    out.Append(records[firstRecord[g]].code);
    for (uint32_t k = start[g]; k < start[g + 1]; ++k) {
      out.Append(u' ');
      out.Append(records[order[k]].entry);
    }
    out.Append(u"\r\n");
  }
  return groups;
}

}  // namespace

const std::array<FormatInfo, 6>& TableFormats() { return kFormats; }

const FormatInfo& InfoOf(TableFormat format) {
  const int k = static_cast<int>(format) - 1;
  return kFormats[k >= 0 && k < 6 ? k : 0];
}

std::optional<TableFormat> FormatFromCliName(std::string_view name) {
  for (const FormatInfo& info : kFormats) {
    if (name.size() != info.cliName.size()) continue;
    bool same = true;
    for (size_t k = 0; k < name.size() && same; ++k) {
      same = FoldAsciiUpper(static_cast<unsigned char>(name[k])) ==
             static_cast<unsigned char>(info.cliName[k]);
    }
    if (same) return info.format;
  }
  return std::nullopt;
}

bool SourceLineReader::Next(std::u16string_view& line) {
  // The first line ends at the first break, so it alone may be empty.
  if (first_) {
    first_ = false;
    return NextLine(text_, pos_, {.breaks = LineBreaks::kEach, .limit = kCommonLineLimit}, line);
  }
  return NextLine(text_, pos_, {.breaks = LineBreaks::kRuns, .limit = kCommonLineLimit}, line);
}

std::vector<std::u16string_view> SplitSourceLines(std::u16string_view text, size_t maxLines) {
  std::vector<std::u16string_view> lines;
  SourceLineReader reader(text);
  std::u16string_view line;
  while (lines.size() < maxLines && reader.Next(line)) lines.push_back(line);
  return lines;
}

Detection DetectFormat(std::u16string_view text) {
  using namespace common_format;
  Detection result;
  auto& f = result.flags;
  f.fill(true);
  enum { kWin, kKuji, kSogou, kQq, kJiajia, kMirel };
  for (std::u16string_view line : SplitSourceLines(text, kDetectionSampleLines)) {
    ++result.sampleLines;
    // A test that holds rules out the formats its line cannot belong to,
    // whatever its own flag says by now.
    if (!FitsWindows(line)) f[kWin] = false;
    if (!FitsKuji(line)) {
      f[kKuji] = false;
    } else {
      f[kWin] = false;
    }
    if (!FitsSogou(line)) {
      f[kSogou] = false;
    } else {
      f[kWin] = f[kJiajia] = false;
    }
    if (!FitsQq(line)) {
      f[kQq] = false;
    } else {
      f[kWin] = f[kJiajia] = false;
    }
    if (!FitsJiajia(line)) {
      f[kJiajia] = false;
    } else {
      f[kWin] = false;
    }
    if (!FitsMirel(line)) {
      f[kMirel] = false;
    } else {
      f[kWin] = false;
    }
  }
  if (result.sampleLines > 0 && std::count(f.begin(), f.end(), true) == 1) {
    result.format = static_cast<TableFormat>(std::find(f.begin(), f.end(), true) - f.begin() + 1);
  }
  return result;
}

std::filesystem::path CommonConversionOutputPath(const std::filesystem::path& source,
                                                 TableFormat target) {
  // Only the file name's extension is replaced: a "." in a folder name must
  // not move the output elsewhere.
  const std::filesystem::path::string_type& text = source.native();
  size_t nameStart = 0;
  for (size_t k = text.size(); k-- > 0;) {
    if (text[k] == '/' || text[k] == std::filesystem::path::preferred_separator) {
      nameStart = k + 1;
      break;
    }
  }
  const size_t dot = text.rfind('.');
  if (dot == std::filesystem::path::string_type::npos || dot < nameStart) return {};
  std::filesystem::path::string_type out = text.substr(0, dot);
  out += PathFromUtf16(InfoOf(target).suffix).native();
  return out;
}

namespace common_format {

ChunkedText::ChunkedText(Drain drain, size_t chunkUnits)
    : drain_(std::move(drain)), chunkUnits_(std::max<size_t>(chunkUnits, 1)) {
  buffer_.reserve(chunkUnits_ + 256);
}

void ChunkedText::Flush() {
  if (buffer_.empty()) return;
  drain_(buffer_);
  buffer_.clear();
}

bool FitsWindows(std::u16string_view line) {
  if (line.empty() || !Above(line[0])) return false;
  size_t k = 1;
  while (k < line.size() && Above(line[k])) ++k;
  return k < line.size() && Below(line[k]) && line[k] != u' ' && line[k] != u'\t';
}

bool FitsKuji(std::u16string_view line) {
  const size_t s = line.find(u' ');
  return s != std::u16string_view::npos && s > 0 && Below(line[s - 1]) && s + 1 < line.size() &&
         Above(line[s + 1]);
}

namespace {

// "code<first>digits<second>entry": the 搜狗 and QQ tests differ only in
// which separator comes first.
std::optional<Separators> FitsNumbered(std::u16string_view line, char16_t first, char16_t second) {
  const size_t a = line.find(first);
  if (a == std::u16string_view::npos || a == 0) return std::nullopt;
  const size_t b = line.find(second, a + 1);
  if (b == std::u16string_view::npos) return std::nullopt;
  // a + 1 <= b, so the unit after `a` exists.
  if (!Below(line[a - 1]) || line[a + 1] < u'1' || line[a + 1] > u'9') return std::nullopt;
  if (b + 1 >= line.size()) return std::nullopt;
  return Separators{a, b};
}

}  // namespace

std::optional<Separators> FitsSogou(std::u16string_view line) {
  return FitsNumbered(line, u',', u'=');
}

std::optional<Separators> FitsQq(std::u16string_view line) {
  return FitsNumbered(line, u'=', u',');
}

bool FitsJiajia(std::u16string_view line) {
  const size_t e = line.find(u'=');
  return e != std::u16string_view::npos && e > 0 && Below(line[e - 1]) && e + 1 < line.size() &&
         Above(line[e + 1]);
}

bool FitsMirel(std::u16string_view line) {
  const size_t t = line.find(u'\t');
  return t != std::u16string_view::npos && t > 0 && (t + 1 == line.size() || Below(line[t + 1]));
}

bool ParseSourceLine(TableFormat format, std::u16string_view line, std::vector<SourceRecord>& out) {
  switch (format) {
    case TableFormat::kWindows:
      return ParseWindows(line, out);
    case TableFormat::kKuji:
      return ParseKuji(line, out);
    case TableFormat::kSogou: {
      const std::optional<Separators> at = FitsSogou(line);
      if (!at) return false;
      out.push_back({line.substr(0, at->first), line.substr(at->second + 1),
                     line.substr(at->first + 1, at->second - at->first - 1)});
      return true;
    }
    case TableFormat::kQq: {
      const std::optional<Separators> at = FitsQq(line);
      if (!at) return false;
      out.push_back({line.substr(0, at->first), line.substr(at->second + 1),
                     line.substr(at->first + 1, at->second - at->first - 1)});
      return true;
    }
    case TableFormat::kJiajia: {
      const size_t e = line.find(u'=');
      if (e == std::u16string_view::npos || e == 0) return false;
      out.push_back({line.substr(0, e), line.substr(e + 1), {}});
      return true;
    }
    case TableFormat::kMirel: {
      const size_t t = line.find(u'\t');
      if (t == std::u16string_view::npos || t == 0) return false;
      out.push_back({line.substr(t + 1), line.substr(0, t), {}});
      return true;
    }
  }
  return false;
}

uint64_t WriteIntermediateText(std::u16string_view sourceText, TableFormat from, ChunkedText& out) {
  uint64_t accepted = 0;
  std::vector<SourceRecord> records;
  SourceLineReader reader(sourceText);
  std::u16string_view line;
  while (reader.Next(line)) {
    records.clear();
    if (!ParseSourceLine(from, line, records)) continue;
    ++accepted;
    for (const SourceRecord& r : records) {
      out.Append(r.code);
      out.Append(u'\t');
      out.Append(r.entry);
      if (r.position.empty()) {
        out.Append(u"\t0000\r\n");
      } else {
        out.Append(u"\t00");
        out.Append(r.position);
        out.Append(u"\r\n");
      }
    }
  }
  return accepted;
}

std::vector<CommonRecord> ReadBackRecords(std::u16string_view text) {
  std::vector<CommonRecord> records;
  records.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), u'\n')) + 1);
  constexpr size_t npos = std::u16string_view::npos;
  size_t pos = 0;
  std::u16string_view line;
  size_t tab1;
  // Records end with CR LF, as written; a lone CR or LF stays in its field.
  while (NextLine(text, pos, {.breaks = LineBreaks::kCrLf}, line, tab1)) {
    if (tab1 == npos) continue;
    CommonRecord r;
    r.code = line.substr(0, tab1);
    const size_t tab2 = line.find(u'\t', tab1 + 1);
    if (tab2 == npos) {
      r.entry = line.substr(tab1 + 1);
    } else {
      r.entry = line.substr(tab1 + 1, tab2 - tab1 - 1);
      r.weight = line.substr(tab2 + 1);
    }
    records.push_back(r);
  }
  return records;
}

void NumberRecords(std::span<CommonRecord> records) {
  // Counting per code in file order gives each record the rank it would get
  // in a pass over the records sorted stably by code.
  CodeTable table(records);
  table.ForEach([&](uint32_t i, const HashProbe& probe) {
    uint32_t counter = 1;
    if (probe.key.size() <= kRememberedCode) {
      bool inserted;
      counter = ++table.Lookup(i, probe, 0, inserted);
    }
    const uint32_t given = LeadingNumber(records[i].weight);
    records[i].position = given != 0 ? given : std::min(counter, kMaxPosition);
  });
}

uint64_t WriteTargetText(TableFormat target, std::span<const CommonRecord> records,
                         ChunkedText& out) {
  switch (target) {
    case TableFormat::kWindows:
      for (const CommonRecord& r : records) {
        out.Append(r.entry);
        out.Append(r.code);
        out.Append(u"\r\n");
      }
      break;
    case TableFormat::kKuji:
      return WriteKuji(records, out);
    case TableFormat::kSogou:
      for (const CommonRecord& r : records) {
        out.Append(r.code);
        out.Append(u',');
        AppendNumber(out, r.position);
        out.Append(u'=');
        out.Append(r.entry);
        out.Append(u"\r\n");
      }
      break;
    case TableFormat::kQq:
      for (const CommonRecord& r : records) {
        out.Append(r.code);
        out.Append(u'=');
        AppendNumber(out, r.position);
        out.Append(u',');
        out.Append(r.entry);
        out.Append(u"\r\n");
      }
      break;
    case TableFormat::kJiajia:
      for (const CommonRecord& r : records) {
        out.Append(r.code);
        out.Append(u'=');
        out.Append(r.entry);
        out.Append(u"\r\n");
      }
      break;
    case TableFormat::kMirel:
      for (const CommonRecord& r : records) {
        out.Append(r.entry);
        out.Append(u'\t');
        out.Append(r.code);
        out.Append(u"\r\n");
      }
      break;
    default:
      return 0;
  }
  return records.size();
}

std::u16string TargetText(TableFormat target, std::span<const CommonRecord> records,
                          uint64_t* lines) {
  std::u16string text;
  uint64_t count;
  {
    ChunkedText out([&](std::u16string_view piece) { text.append(piece); });
    count = WriteTargetText(target, records, out);
  }
  if (lines != nullptr) *lines = count;
  return text;
}

}  // namespace common_format

namespace {

static_assert(std::endian::native == std::endian::little,
              "UTF-16LE files are written straight from memory");

// The status of a failed stage, its message naming the stage first.
Status InStage(const std::string& stage, const Status& status) {
  if (status.code() == Status::Code::kNoMemory) return Status::NoMemory(stage);
  return Status::IoError(stage, status.message());
}

Result<common_format::StagedRecords> Stage(FileSystem& fs, std::u16string_view sourceText,
                                           TableFormat from, const TempFolder& temp,
                                           const std::string& source) {
  using namespace common_format;
  const std::string sourceName = Utf16ToUtf8(InfoOf(from).radioText);
  if (sourceText.empty()) return Status::InvalidArgument(source, Tr("it is empty"));

  // Stage one: the source, parsed, into the intermediate file.
  const std::filesystem::path tempPath = temp.TempPath(kIntermediateFileName);
  if (tempPath.empty()) {
    return Status::IoError("intermediate file", Tr("the temporary folder's path is too long"));
  }
  const std::string tempWhere = "intermediate file " + tempPath.string();
  uint64_t accepted;
  {
    // The intermediate file lives in the private temporary folder; it is
    // replaced like any other output, so a failed stage leaves no half file.
    Result<std::unique_ptr<TextWriter>> file = TextWriter::Create(fs, tempPath);
    if (!file.IsOk()) return InStage("writing the intermediate file", file.status());
    file.value()->WriteBom();
    {
      ChunkedText out([&](std::u16string_view piece) { file.value()->Write(piece); },
                      size_t{1} << 17);
      accepted = WriteIntermediateText(sourceText, from, out);
    }
    if (Status s = file.value()->Commit(); !s.IsOk()) {
      return InStage("writing the intermediate file", s);
    }
  }
  if (accepted == 0) {
    return Status::InvalidArgument(source, Tr("no line is in the {1}", sourceName));
  }

  // Stage two: read back.
  Result<TextBuffer> back = ReadTextFile(fs, tempPath);
  if (!back.IsOk()) return InStage("reading the intermediate file back", back.status());
  if (back->encoding != TextEncoding::kUtf16Le) {
    return Status::Corrupt(tempWhere, Tr("it was changed while being read back"));
  }
  StagedRecords staged;
  staged.text = std::make_unique<std::u16string>(std::move(back->text));
  staged.records = ReadBackRecords(*staged.text);
  if (staged.records.empty()) {
    return Status::InvalidArgument(source, Tr("its lines in the {1} hold no entries", sourceName));
  }
  if (staged.records.size() >= std::numeric_limits<uint32_t>::max()) {
    return Status::Unsupported(source, Tr("too many entries"));
  }
  return staged;
}

Result<uint64_t> WriteTarget(FileSystem& fs, std::span<common_format::CommonRecord> records,
                             TableFormat to, const std::filesystem::path& output) {
  using namespace common_format;
  if (to == TableFormat::kSogou || to == TableFormat::kQq) NumberRecords(records);
  const std::string stage = "writing the " + Utf16ToUtf8(InfoOf(to).radioText) + " file";
  Result<std::unique_ptr<TextWriter>> file = TextWriter::Create(fs, output);
  if (!file.IsOk()) return InStage(stage, file.status());
  TextWriter& writer = *file.value();
  writer.WriteBom();
  uint64_t lines;
  {
    ChunkedText out([&](std::u16string_view piece) { writer.Write(piece); });
    lines = WriteTargetText(to, records, out);
  }
  if (Status s = writer.Commit(); !s.IsOk()) return InStage(stage, s);
  return lines;
}

std::string SourceName(const std::filesystem::path& source) {
  return source.empty() ? std::string("source table") : source.string();
}

}  // namespace

namespace common_format {

Result<StagedRecords> StageRecords(FileSystem& fs, std::u16string_view sourceText, TableFormat from,
                                   const TempFolder& temp, const std::filesystem::path& source) {
  try {
    return Stage(fs, sourceText, from, temp, SourceName(source));
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("common format conversion");
  }
}

Result<uint64_t> WriteRecords(FileSystem& fs, std::span<CommonRecord> records, TableFormat to,
                              const std::filesystem::path& output) {
  try {
    return WriteTarget(fs, records, to, output);
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("common format conversion");
  }
}

}  // namespace common_format

Result<uint64_t> ConvertCommonFormat(FileSystem& fs, std::u16string_view sourceText,
                                     TableFormat from, TableFormat to,
                                     const std::filesystem::path& output, const TempFolder& temp,
                                     const std::filesystem::path& source) {
  Result<common_format::StagedRecords> staged =
      common_format::StageRecords(fs, sourceText, from, temp, source);
  if (!staged.IsOk()) return staged.status();
  return common_format::WriteRecords(fs, staged->records, to, output);
}

}  // namespace mirel
