#include "store/table_store.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "platform/lines.h"
#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/parallel.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {
namespace {

constexpr uint64_t kFileLimit = 0xFFFFFFFFull;

uint32_t ReadU32(const std::byte* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void WriteU32(std::byte* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Every row read is measured this way, often more than once (statistics,
// writing, comparing), so eight units are tested at a time where the
// processor can.
size_t UnitLength(const char16_t* p, const char16_t* end) {
  const char16_t* q = p;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  while (end - q >= 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const int nul = _mm_movemask_epi8(_mm_cmpeq_epi16(units, zero));
    if (nul != 0) return static_cast<size_t>(q - p) + static_cast<size_t>(__builtin_ctz(nul)) / 2;
    q += 8;
  }
#endif
  while (q < end && *q != 0) ++q;
  return static_cast<size_t>(q - p);
}

// Whether the file's bytes hold a TAB, decided without decoding them: in
// UTF-8 and GBK the byte 09 is always a TAB, in UTF-16 the unit 0009.
bool HoldsTab(std::string_view bytes) {
  const bool littleEndian = bytes.starts_with("\xFF\xFE");
  if (!littleEndian && !bytes.starts_with("\xFE\xFF")) {
    return bytes.find('\t') != std::string_view::npos;
  }
  for (size_t k = 2; k + 1 < bytes.size(); k += 2) {
    if (bytes[k + (littleEndian ? 0 : 1)] == '\t' && bytes[k + (littleEndian ? 1 : 0)] == 0) {
      return true;
    }
  }
  return false;
}

Status NoRows(const std::string& where, const LinesWithoutTab& skipped) {
  return Status::InvalidArgument(
      where,
      Tr("not a code table: no line holds a TAB between entry and code; {1}", skipped.Describe()));
}

// Room for the rows of a text: every row holds a TAB and ends at a break (CR,
// LF or NUL) or at the end, so there are no more rows than either. Over the
// bytes of UTF-8 or UTF-16LE it bounds the rows of the decoded text too. A
// vector of units at a time where the processor can.
template <class Char>
size_t RowRoom(std::basic_string_view<Char> text) {
  size_t tabs = 0, breaks = 0, k = 0;
#if defined(__SSE2__)
  constexpr size_t kUnits = 16 / sizeof(Char);
  auto equal = [](__m128i v, char c) {
    if constexpr (sizeof(Char) == 2) return _mm_cmpeq_epi16(v, _mm_set1_epi16(c));
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(c));
  };
  for (; k + kUnits <= text.size(); k += kUnits) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + k));
    const __m128i ends = _mm_or_si128(_mm_or_si128(equal(v, '\n'), equal(v, '\r')), equal(v, 0));
    tabs += static_cast<size_t>(
        std::popcount(static_cast<unsigned>(_mm_movemask_epi8(equal(v, '\t')))));
    breaks += static_cast<size_t>(std::popcount(static_cast<unsigned>(_mm_movemask_epi8(ends))));
  }
  // The mask has a bit per byte.
  tabs /= sizeof(Char);
  breaks /= sizeof(Char);
#endif
  for (; k < text.size(); ++k) {
    const Char c = text[k];
    tabs += c == Char('\t');
    breaks += c == Char('\n') || c == Char('\r') || c == Char(0);
  }
  return std::min(tabs, breaks + 1);
}

// Writes the start index of each line that holds a TAB to `rows`, which has
// room for RowRoom(text); lines end at CR LF, lone CR, lone LF or NUL. Reads
// only. Returns the number of rows.
size_t RowStarts(std::u16string_view text, uint32_t* rows) {
  size_t r = 0;
  LineReader reader(text, {.breaks = LineBreaks::kEach, .nulEnds = true});
  std::u16string_view line;
  size_t tab;
  while (reader.Next(line, tab)) {
    if (tab != std::u16string_view::npos)
      rows[r++] = static_cast<uint32_t>(line.data() - text.data());
  }
  return r;
}

// Lists the lines without a TAB in `skipped` and writes the start of each
// row to `rows` (room for RowRoom(text)), then ends every line in place with
// NUL. Every CR and LF is part of a line break, so the breaks become NUL
// wherever they are. On a large text the lines left out are found on one
// core while the rows are on the other. Returns the number of rows.
size_t SplitRows(std::span<char16_t> text, LinesWithoutTab& skipped, uint32_t* rows) {
  constexpr size_t kSplitUnits = size_t{1} << 22;
  const std::u16string_view view(text.data(), text.size());
  const bool split = text.size() >= kSplitUnits && UsableCores() >= 2;
  size_t r = 0;
  RunBoth(
      split, [&] { skipped.Scan(view); }, [&] { r = RowStarts(view, rows); });
  // Branch-free, so that the compiler does it many units at a time.
  auto endLines = [](char16_t* from, char16_t* to) {
    for (char16_t* unit = from; unit != to; ++unit) {
      *unit = (*unit == u'\r' || *unit == u'\n') ? char16_t{0} : *unit;
    }
  };
  char16_t* half = text.data() + text.size() / 2;
  RunBoth(
      split, [&] { endLines(half, text.data() + text.size()); },
      [&] { endLines(text.data(), half); });
  return r;
}

std::vector<uint32_t> SplitRows(std::u16string& text, LinesWithoutTab& skipped) {
  std::vector<uint32_t> rows(RowRoom(std::u16string_view(text)));
  rows.resize(SplitRows(std::span(text), skipped, rows.data()));
  return rows;
}

}  // namespace

uint32_t* TableStore::DataOffsets() { return reinterpret_cast<uint32_t*>(data_->view() + 4); }
const uint32_t* TableStore::DataOffsets() const {
  return reinterpret_cast<const uint32_t*>(data_->view() + 4);
}
const char16_t* TableStore::DataUnits(uint32_t byteOffset) const {
  return reinterpret_cast<const char16_t*>(data_->view() + byteOffset);
}
uint32_t* TableStore::FilterOffsets() { return reinterpret_cast<uint32_t*>(filter_->view() + 4); }
const uint32_t* TableStore::FilterOffsets() const {
  return reinterpret_cast<const uint32_t*>(filter_->view() + 4);
}
const char16_t* TableStore::FilterUnits(uint32_t byteOffset) const {
  return reinterpret_cast<const char16_t*>(filter_->view() + byteOffset);
}

Result<uint32_t> TableStore::LoadTable(const std::filesystem::path& path, bool anyName) try {
  const std::string where = path.string();
  const bool named = anyName || HasExtension(path, u".ktb") || HasExtension(path, u".txt");
  if (!named) {
    return Status::Unsupported(where,
                               Tr("not a code table: only .txt and .ktb files can be opened"));
  }
  // A pipe can be read only once: its bytes are taken here and decide.
  if (Result<PathInfo> info = fs_.Query(path); info.IsOk() && info->kind == PathKind::kStream) {
    return LoadStream(path);
  }
  // The bytes decide, not the name: a compiled table renamed .txt read as
  // text would become a few rows of garbage.
  Result<bool> compiled = IsCompiledTableFile(fs_, path);
  if (!compiled.IsOk()) return compiled.status();
  if (compiled.value() && working_ == WorkingData::kMemory) {
    Result<std::string> bytes = fs_.ReadWhole(path);
    if (!bytes.IsOk()) return bytes.status();
    const std::span<const std::byte> compiledBytes = std::as_bytes(std::span(bytes.value()));
    Result<std::filesystem::path> text = CompiledTextPath(path, compiledBytes);
    if (!text.IsOk()) return text.status();
    return LoadCompiledInMemory(path, text.value(), compiledBytes);
  }
  if (compiled.value()) {
    std::filesystem::path text = temp_.TempPath(kCompiledTextName);
    if (text.empty()) {
      return Status::IoError(temp_.folder().string(), Tr("temporary folder path is too long"));
    }
    Result<OpaqueHeader> header = CompiledTableToTextFile(fs_, path, text);
    if (!header.IsOk()) return header.status();
    return OpenedFromCompiled(LoadText(text), path, header.value());
  }
  if (Status refused = RefuseFalseCompiledTable(path); !refused.IsOk()) return refused;
  return LoadText(path);
} catch (const std::bad_alloc&) {
  return Status::NoMemory(path.string());
}

Result<uint32_t> TableStore::LoadStream(const std::filesystem::path& path) {
  Result<std::string> bytes = ReadFileBytes(fs_, path);
  if (!bytes.IsOk()) return bytes.status();
  const std::span<const std::byte> head = std::as_bytes(std::span(bytes.value()));
  if (!HasCompiledTableHeader(head)) return LoadText(path, std::move(bytes).value());
  Result<std::filesystem::path> named = CompiledTextPath(path, head);
  if (!named.IsOk()) return named.status();
  const std::filesystem::path& text = named.value();
  if (working_ == WorkingData::kMemory) return LoadCompiledInMemory(path, text, head);
  // Its text goes where a compiled file's text goes, and opens from there.
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs_, text);
  if (!writer.IsOk()) return writer.status();
  writer.value()->WriteBom();
  Status written = WriteCompiledTableText(
      head, [&](std::u16string_view piece) { writer.value()->Write(piece); });
  if (written.IsOk()) written = writer.value()->Commit();
  if (!written.IsOk()) return written;
  const OpaqueHeader header = ReadOpaqueHeader(head);
  std::string().swap(bytes.value());
  return OpenedFromCompiled(LoadText(text), path, header);
}

Result<std::filesystem::path> TableStore::CompiledTextPath(const std::filesystem::path& path,
                                                           std::span<const std::byte> compiled) {
  Status valid = ValidateCompiledTable(compiled);
  if (!valid.IsOk()) {
    return Status::Corrupt(path.string(),
                           Tr("not a readable compiled table: {1}", valid.message()));
  }
  std::filesystem::path text = temp_.TempPath(kCompiledTextName);
  if (text.empty()) {
    return Status::IoError(temp_.folder().string(), Tr("temporary folder path is too long"));
  }
  return text;
}

Result<uint32_t> TableStore::OpenedFromCompiled(Result<uint32_t> loaded,
                                                const std::filesystem::path& path,
                                                const OpaqueHeader& header) {
  if (!loaded.IsOk()) return loaded;
  fromCompiled_ = true;
  compiledTarget_ = CompiledTarget{path, header};
  return loaded;
}

// The text is named where a save of it would go, but nothing is written
// there unless the table is saved.
Result<uint32_t> TableStore::LoadCompiledInMemory(const std::filesystem::path& path,
                                                  const std::filesystem::path& text,
                                                  std::span<const std::byte> compiled) {
  std::string bytes("\xFF\xFE");
  Status written = WriteCompiledTableText(compiled, [&](std::u16string_view piece) {
    bytes.append(reinterpret_cast<const char*>(piece.data()), 2 * piece.size());
  });
  if (!written.IsOk()) return written;
  return OpenedFromCompiled(LoadText(text, std::move(bytes)), path, ReadOpaqueHeader(compiled));
}

Result<std::unique_ptr<WorkingFile>> TableStore::MakeWorkingFile(
    std::u16string_view name, std::initializer_list<std::span<const std::byte>> pieces,
    uint32_t size) const {
  std::filesystem::path path = temp_.TempPath(name);
  if (working_ == WorkingData::kMemory) {
    return NewMemoryWorkingFile(path.empty() ? PathFromUtf16(name) : path, pieces, size);
  }
  if (path.empty()) {
    return Status::IoError(temp_.folder().string(), Tr("temporary folder path is too long"));
  }
  return fs_.CreateWorkingFile(path, pieces, size);
}

Result<uint32_t> TableStore::LoadText(const std::filesystem::path& path) {
  Result<std::string> bytes = ReadFileBytes(fs_, path);
  if (!bytes.IsOk()) return bytes.status();
  return LoadText(path, std::move(bytes).value());
}

Result<uint32_t> TableStore::LoadText(const std::filesystem::path& path, std::string bytes) {
  const std::string where = path.string();
  if (working_ == WorkingData::kFiles && temp_.TempPath(kDataFileName).empty()) {
    return Status::IoError(temp_.folder().string(), Tr("temporary folder path is too long"));
  }
  // A text with lines but no row is refused before the open table goes: a
  // save would turn it into an empty table.
  if (!HoldsTab(bytes)) {
    LinesWithoutTab skipped;
    skipped.Scan(DecodeText(bytes).text);
    if (!skipped.empty()) return NoRows(where, skipped);
  }

  // The file is readable: from here on the old table gives way, which also
  // releases its working files' memory before the new text is decoded.
  RemoveWorkingText(path);
  ResetTable();
  currentPath_ = path;
  if (working_ == WorkingData::kMemory) {
    if (std::optional<Result<uint32_t>> loaded = LoadIntoMemory(where, bytes)) return *loaded;
  }
  std::u16string text;
  try {
    TextBuffer decoded = DecodeText(bytes);
    encoding_ = decoded.encoding;
    text = std::move(decoded.text);
  } catch (const std::bad_alloc&) {
    CloseTable();
    return Status::NoMemory(where);
  }
  std::string().swap(bytes);
  std::vector<uint32_t> rows = SplitRows(text, linesWithoutTab_);

  const uint64_t n = text.size();
  const uint64_t r = rows.size();
  const uint64_t size = 2 * n + 4 * r + 6;
  if (size >= kFileLimit) {
    CloseTable();
    return Status::Unsupported(where, Tr("table too large (4 GiB working file limit)"));
  }
  const uint32_t textBase = static_cast<uint32_t>(4 + 4 * r);
  textBase_ = textBase;
  for (uint32_t& row : rows) row = textBase + 2 * row;
  const uint32_t count = static_cast<uint32_t>(r);
  Result<std::unique_ptr<WorkingFile>> data =
      MakeWorkingFile(kDataFileName,
                      {std::as_bytes(std::span(&count, 1)), std::as_bytes(std::span(rows)),
                       std::as_bytes(std::span(text))},
                      static_cast<uint32_t>(size));
  if (!data.IsOk()) {
    CloseTable();
    return data.status();
  }
  data_ = std::move(data).value();
  std::u16string().swap(text);
  std::vector<uint32_t>().swap(rows);
  ReleaseFreedMemory();
  textChanged_ = true;
  // A tool never lists the rows: a copy of the table it would not read
  // only costs time and memory.
  if (working_ == WorkingData::kMemory) return count;
  // A table without its list is not open: the caller is told it failed.
  Result<uint32_t> filtered = ApplyFilter({}, false);
  if (!filtered.IsOk()) CloseTable();
  return filtered;
}

// A tool's table is decoded straight into its working memory and never
// leaves it: the text is not held twice, and its pages are touched once. The
// rows go in front of it, in room counted over the bytes. Nothing is
// returned for a text that cannot be decoded in place.
std::optional<Result<uint32_t>> TableStore::LoadIntoMemory(const std::string& where,
                                                           std::string& bytes) try {
  const uint64_t textBase = 4 + 4 * uint64_t{RowRoom(std::string_view(bytes))};
  const uint64_t room = textBase + 2 * uint64_t{DecodedUnitsBound(bytes)} + 2;
  if (room >= kFileLimit) return std::nullopt;
  Result<std::unique_ptr<WorkingFile>> made =
      MakeWorkingFile(kDataFileName, {}, static_cast<uint32_t>(room));
  if (!made.IsOk()) {
    CloseTable();
    return Result<uint32_t>(made.status());
  }
  std::unique_ptr<WorkingFile> data = std::move(made).value();
  auto* text = reinterpret_cast<char16_t*>(data->view() + textBase);
  const std::optional<DecodedText> decoded = DecodeTextInto(bytes, text);
  if (!decoded) return std::nullopt;
  std::string().swap(bytes);
  encoding_ = decoded->encoding;
  const size_t n = decoded->units;
  text[n] = 0;
  auto* rows = reinterpret_cast<uint32_t*>(data->view() + 4);
  const size_t r = SplitRows(std::span(text, n), linesWithoutTab_, rows);
  for (size_t k = 0; k < r; ++k) rows[k] = static_cast<uint32_t>(textBase + 2 * rows[k]);
  WriteU32(data->view(), static_cast<uint32_t>(r));
  // What the decoding did not fill goes back.
  Status fitted = data->Resize(static_cast<uint32_t>(textBase + 2 * n + 2));
  if (!fitted.IsOk()) {
    CloseTable();
    return Result<uint32_t>(fitted);
  }
  data_ = std::move(data);
  textBase_ = static_cast<uint32_t>(textBase);
  textChanged_ = true;
  ReleaseFreedMemory();
  return Result<uint32_t>(static_cast<uint32_t>(r));
} catch (const std::bad_alloc&) {
  CloseTable();
  return Result<uint32_t>(Status::NoMemory(where));
}

Result<uint32_t> TableStore::ApplyFilter(std::u16string_view filterText, bool exact) try {
  if (!data_ || !data_->view()) {
    filter_.reset();
    rowMap_ = nullptr;
    return Status::InvalidArgument("", Tr("no table is open"));
  }
  const uint32_t d = data_->size();
  const uint32_t r = RowCount();
  const uint64_t size = uint64_t{d} + 4ull * r;
  // While the table's text is unchanged the snapshot's copy of it is still
  // exact, so a keystroke only rewrites the visible list and the row map.
  const bool reuse = filter_ && filter_->view() && !textChanged_ && filter_->size() == size &&
                     snapshotDataSize_ == d;
  if (!reuse) {
    // The new snapshot goes beside the old one, which stays listed when the
    // new one cannot be made.
    const std::filesystem::path first = temp_.TempPath(kFilterFileName);
    const bool spare = filter_ && !first.empty() && filterPath_ == first;
    filterStale_ = filter_ != nullptr;
    if (size >= kFileLimit) {
      return Status::IoError(temp_.folder().string(), Tr("cannot create the filter file"));
    }
    Result<std::unique_ptr<WorkingFile>> filter = MakeWorkingFile(
        spare ? kSpareFilterFileName : kFilterFileName,
        {std::span<const std::byte>(data_->view(), d)}, static_cast<uint32_t>(size));
    if (!filter.IsOk()) {
      if (working_ == WorkingData::kFiles && first.empty()) {
        return Status::IoError(temp_.folder().string(), Tr("cannot create the filter file"));
      }
      return filter.status();
    }
    filterStale_ = false;
    if (filter_) {
      filter_.reset();
      if (working_ == WorkingData::kFiles) (void)fs_.Remove(filterPath_);
    }
    filter_ = std::move(filter).value();
    filterPath_ = filter_->path();
    textChanged_ = false;
    snapshotDataSize_ = d;
  }
  std::byte* view = filter_->view();
  rowMap_ = view + d;
  const uint32_t* dataOffsets = DataOffsets();
  uint32_t* visible = FilterOffsets();

  filterText = filterText.substr(0, filterText.find(u'\0'));
  if (filterText.empty()) {
    if (reuse) std::memcpy(visible, dataOffsets, 4 * size_t{r});
    for (uint32_t k = 0; k < r; ++k) SetRowMapAt(k, k);
    WriteU32(view, r);
    return r;
  }
  const char16_t* end = reinterpret_cast<const char16_t*>(data_->view() + d);
  const size_t len = filterText.size();
  uint32_t v = 0;
  for (uint32_t k = 0; k < r; ++k) {
    const char16_t* p = DataUnits(dataOffsets[k]);
    while (p < end && *p != u'\t' && *p != 0) ++p;
    if (p >= end || *p != u'\t') continue;
    ++p;
    size_t m = 0;
    while (m < len && p + m < end && p[m] == filterText[m]) ++m;
    if (m < len) continue;
    if (exact && p + m < end && p[m] != 0) continue;
    visible[v] = dataOffsets[k];
    SetRowMapAt(v, k);
    ++v;
  }
  WriteU32(view, v);
  return 0;
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

Result<std::vector<std::u16string>> TableStore::ReadRows(FileSystem& fs,
                                                         const std::filesystem::path& path) try {
  Result<TextBuffer> file = ReadTextFile(fs, path);
  if (!file.IsOk()) return file.status();
  LinesWithoutTab skipped;
  const std::vector<uint32_t> starts = SplitRows(file->text, skipped);
  if (starts.empty() && !skipped.empty()) return NoRows(path.string(), skipped);
  std::vector<std::u16string> rows;
  rows.reserve(starts.size());
  for (const uint32_t start : starts) rows.emplace_back(file->text.data() + start);
  return rows;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(path.string());
}

uint32_t TableStore::VisibleRowCount() const {
  return filter_ && filter_->view() ? ReadU32(filter_->view()) : 0;
}

uint32_t TableStore::RowCount() const {
  return data_ && data_->view() ? ReadU32(data_->view()) : 0;
}

uint32_t TableStore::RowMapAt(uint32_t v) const { return ReadU32(rowMap_ + 4 * size_t{v}); }
void TableStore::SetRowMapAt(uint32_t v, uint32_t i) { WriteU32(rowMap_ + 4 * size_t{v}, i); }

uint32_t TableStore::DataRowOf(uint32_t v) const {
  return v < VisibleRowCount() ? RowMapAt(v) : kNoRow;
}

bool TableStore::RowText(uint32_t v, RowTextKind kind, std::u16string& out) const {
  out.clear();
  if (v >= VisibleRowCount()) return false;
  switch (kind) {
    case RowTextKind::kVisibleNumber:
      out = FormatText(u"%d", {static_cast<long long>(v) + 1});
      return true;
    case RowTextKind::kDataNumber:
      out = FormatText(u"%d", {static_cast<long long>(RowMapAt(v)) + 1});
      return true;
    case RowTextKind::kEntry:
    case RowTextKind::kCode:
      break;
  }
  const uint32_t offset = FilterOffsets()[v];
  if (offset >= filter_->size()) return false;
  const char16_t* end = reinterpret_cast<const char16_t*>(filter_->view() + filter_->size());
  std::u16string_view text(FilterUnits(offset), UnitLength(FilterUnits(offset), end));
  size_t tab = text.find(u'\t');
  if (tab == std::u16string_view::npos) return false;
  std::u16string_view part =
      kind == RowTextKind::kEntry ? text.substr(0, tab) : text.substr(tab + 1);
  out.assign(part.substr(0, kRowTextLimit));
  return true;
}

std::u16string_view TableStore::DataRowText(uint32_t i) const {
  if (i >= RowCount()) return {};
  const char16_t* end = reinterpret_cast<const char16_t*>(data_->view() + data_->size());
  const char16_t* p = DataUnits(DataOffsets()[i]);
  return std::u16string_view(p, UnitLength(p, end));
}

Status TableStore::WriteTableText(const std::filesystem::path& target) try {
  Status written = WriteRows(target);
  if (written.IsOk()) dirty_ = false;
  return written;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(target.string());
}

Status TableStore::WriteRows(const std::filesystem::path& target) const {
  if (!data_ || !data_->view())
    return Status::InvalidArgument(target.string(), Tr("no table is open"));
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs_, target);
  if (!writer.IsOk()) return writer.status();
  TextWriter& out = *writer.value();
  out.WriteBom();
  const uint32_t r = RowCount();
  // On two cores the second half is put together while the first is
  // written, then written whole.
  constexpr uint32_t kSplitRows = 200000;
  const bool split = r >= kSplitRows && UsableCores() >= 2;
  const uint32_t half = split ? r / 2 : r;
  std::u16string second;
  RunBoth(
      split,
      [&] {
        for (uint32_t k = half; k < r; ++k) {
          second.append(DataRowText(k));
          second.append(u"\r\n");
        }
      },
      [&] {
        for (uint32_t k = 0; k < half; ++k) {
          out.Write(DataRowText(k));
          out.Write(u"\r\n");
        }
      });
  out.Write(second);
  return out.Commit();
}

Status TableStore::SaveTable(SaveMode mode, const std::filesystem::path& target,
                             const RetryPrompt& retry) try {
  if (mode == SaveMode::kSaveAs) return WriteTableText(target);
  if (fromCompiled_) return SaveCompiled(retry);
  Status written = WriteTableText(currentPath_);
  // The file is now what was written: the next save changes nothing more.
  if (written.IsOk()) {
    encoding_ = TextEncoding::kUtf16Le;
    linesWithoutTab_ = {};
  }
  return written;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(currentPath_.string());
}

Status TableStore::SaveCompiled(const RetryPrompt& retry) {
  const std::string where = compiledTarget_.path.string();
  if (compiledTarget_.path.empty()) {
    return Status::InvalidArgument("", Tr("no compiled table to save into"));
  }
  // An empty compiled table would leave the input method without a table.
  if (RowCount() == 0) {
    return Status::InvalidArgument(
        where, Tr("the table has no rows; the compiled table was left unchanged"));
  }
  Status text = WriteRows(currentPath_);
  if (!text.IsOk()) return text;
  std::filesystem::path compiled = temp_.TempPath(kCompiledTempName);
  if (compiled.empty()) {
    return Status::IoError(temp_.folder().string(), Tr("temporary folder path is too long"));
  }
  std::unique_ptr<CharacterClassTable> builtIn;
  if (classes_ == nullptr) builtIn = CharacterClassTable::BuiltIn();
  Result<CompileSummary> summary = CompileTable(
      fs_, currentPath_, compiled, classes_ ? *classes_ : *builtIn, compiledTarget_.header);
  if (!summary.IsOk()) return summary.status();
  while (true) {
    Status replaced = fs_.CopyFile(compiled, compiledTarget_.path);
    if (replaced.IsOk()) break;
    if (!retry || !retry(replaced)) return replaced;
  }
  dirty_ = false;
  return Status::Ok();
}

Status TableStore::ReloadSaved() try {
  if (!IsOpen()) return Status::InvalidArgument("", Tr("no table is open"));
  const bool compiled = fromCompiled_;
  const CompiledTarget target = compiledTarget_;
  const std::filesystem::path path = currentPath_;
  Result<uint32_t> loaded = LoadText(path);
  if (!loaded.IsOk()) return loaded.status();
  fromCompiled_ = compiled;
  compiledTarget_ = target;
  dirty_ = true;
  return Status::Ok();
} catch (const std::bad_alloc&) {
  return Status::NoMemory(currentPath_.string());
}

void TableStore::CloseTable() {
  RemoveWorkingText({});
  ResetTable();
  for (std::u16string_view name :
       {kDataFileName, kFilterFileName, kSpareFilterFileName, kCompiledTempName}) {
    // Another store of this process may keep its files under these names.
    if (working_ == WorkingData::kMemory && name != kCompiledTempName) continue;
    const std::filesystem::path file = temp_.TempPath(name);
    if (!file.empty()) (void)fs_.Remove(file);
  }
}

void TableStore::RemoveWorkingText(const std::filesystem::path& keep) {
  if (currentPath_.empty() || currentPath_ == keep) return;
  if (currentPath_.parent_path() == temp_.folder()) (void)fs_.Remove(currentPath_);
}

void TableStore::ResetTable() {
  filter_.reset();
  filterPath_.clear();
  filterStale_ = false;
  data_.reset();
  rowMap_ = nullptr;
  currentPath_.clear();
  fromCompiled_ = false;
  compiledTarget_ = {};
  dirty_ = false;
  linesWithoutTab_ = {};
}

}  // namespace mirel
