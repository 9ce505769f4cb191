#include "store/compiled_table.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/lines.h"
#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/parallel.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {
namespace {

constexpr uint32_t kFirstWeightBase = 1000;
constexpr uint32_t kIndexBias = 100;
constexpr uint32_t kWeightMask = 0x00FFFFFF;
constexpr uint64_t kFileLimit = 0xFFFFFFFFull;

uint32_t LoadU32(const std::byte* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

bool IsFullWidthCodeUnit(char16_t u) {
  return u == 0xFF0A || u == 0xFF0B || (u >= 0xFF0D && u <= 0xFF19);
}

// Calls `line` with the start and length of each line (ended by CR LF, a lone
// CR or a lone LF).
template <class Visit>
void ForEachLine(std::u16string_view text, Visit line) {
  LineReader reader(text, {.breaks = LineBreaks::kEach});
  std::u16string_view view;
  while (reader.Next(view)) line(static_cast<size_t>(view.data() - text.data()), view.size());
}

// Resolves \r (to CR LF), then \t (to TAB), then \\ (to one backslash), each
// pass over the whole entry; returns the new length.
size_t ResolveEscapes(char16_t* e, size_t n) {
  for (size_t i = 0; i + 1 < n; ++i) {
    if (e[i] == u'\\' && e[i + 1] == u'r') {
      e[i] = u'\r';
      e[++i] = u'\n';
    }
  }
  auto collapse = [&](char16_t second, char16_t replacement) {
    size_t out = 0;
    for (size_t i = 0; i < n; ++i) {
      if (e[i] == u'\\' && i + 1 < n && e[i + 1] == second) {
        e[out++] = replacement;
        ++i;
      } else {
        e[out++] = e[i];
      }
    }
    n = out;
  };
  collapse(u't', u'\t');
  collapse(u'\\', u'\\');
  return n;
}

// Rewrites the code in place: marks out, "##" to "#". False when a unit is
// outside the code alphabet (the line is skipped).
bool RewriteCode(char16_t* c, size_t& n, uint32_t& marks) {
  size_t out = 0;
  auto keep = [&](char16_t u) {
    if (u > 0xFF && !IsFullWidthCodeUnit(u)) return false;
    c[out++] = u;
    return true;
  };
  for (size_t i = 0; i < n; ++i) {
    if (c[i] == u'#' && i + 1 < n) {
      char16_t next = c[++i];
      if (next == u'1') {
        marks |= 0x10000000;
      } else if (next == u'2') {
        marks |= 0x20000000;
      } else if (next == u'3') {
        marks |= 0x30000000;
      } else if (next == u'a') {
        marks |= kMarkA;
      } else if (next == u'#') {
        c[out++] = u'#';
      } else if (!keep(u'#') || !keep(next)) {
        return false;
      }
    } else if (!keep(c[i])) {
      return false;
    }
  }
  n = out;
  return true;
}

// Sort item of the compiler: a packed prefix of the record key and the
// record's place in the arena (which is also its parse order).
#pragma pack(push, 4)
struct KeyItem {
  uint64_t key;
  uint32_t record;
};
#pragma pack(pop)
static_assert(sizeof(KeyItem) == 12);

// Code bytes 0-3 in bits 32-63, the code length (at most 15) in 28-31, entry
// bytes 0-2 in 4-27. For codes of at most four bytes the key orders exactly,
// except that equal keys need the full comparison.
uint64_t PackKey(const uint8_t* code, size_t l, const uint8_t* entry, size_t entryBytes) {
  uint64_t key = 0;
  for (size_t k = 0; k < 4; ++k) key = key << 8 | (k < l ? code[k] : 0);
  key = key << 4 | std::min<size_t>(l, 15);
  for (size_t k = 0; k < 3; ++k) key = key << 8 | (k < entryBytes ? entry[k] : 0);
  return key << 4;
}

int CompareBytes(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
  int c = std::memcmp(a, b, std::min(na, nb));
  if (c != 0) return c;
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

class RecordArena {
 public:
  uint32_t Append(uint32_t word, std::span<const uint8_t> code, std::u16string_view entry) {
    const uint32_t at = static_cast<uint32_t>(bytes_.size());
    bytes_.resize(at + 6 + code.size() + 2 * entry.size());
    uint8_t* p = bytes_.data() + at;
    std::memcpy(p, &word, 4);
    p[4] = static_cast<uint8_t>(code.size());
    std::memcpy(p + 5, code.data(), code.size());
    p[5 + code.size()] = static_cast<uint8_t>(entry.size());
    std::memcpy(p + 6 + code.size(), entry.data(), 2 * entry.size());
    return at;
  }

  const uint8_t* At(uint32_t record) const { return bytes_.data() + record; }
  static size_t Size(const uint8_t* r) { return 6 + r[4] + 2 * size_t{r[5 + r[4]]}; }
  static int Compare(const uint8_t* a, const uint8_t* b) {
    int c = CompareBytes(a + 5, a[4], b + 5, b[4]);
    if (c != 0) return c;
    return CompareBytes(a + 6 + a[4], 2 * size_t{a[5 + a[4]]}, b + 6 + b[4],
                        2 * size_t{b[5 + b[4]]});
  }
  std::u16string Entry(uint32_t record) const {
    const uint8_t* r = At(record);
    std::u16string entry(r[5 + r[4]], u'\0');
    std::memcpy(entry.data(), r + 6 + r[4], 2 * entry.size());
    return entry;
  }
  void Release() { std::vector<uint8_t>().swap(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

void PutU32(std::byte* p, uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace

uint8_t CodeByte(char16_t unit) {
  if (unit < 0x80) return static_cast<uint8_t>(unit);
  if (IsFullWidthCodeUnit(unit)) return static_cast<uint8_t>(unit - 0xFE60);
  return 0;
}

char16_t CodeUnit(uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte == 0xAA || byte == 0xAB || (byte >= 0xAD && byte <= 0xB9)) {
    return static_cast<char16_t>(byte + 0xFE60);
  }
  return 0;
}

namespace {

void ParseLines(std::u16string& text, uint32_t& index,
                const std::function<void(const ParsedLine&)>& visit) {
  ForEachLine(text, [&](size_t start, size_t length) {
    char16_t* line = text.data() + start;
    std::u16string_view view(line, length);
    if (view.starts_with(u"//")) {
      if (!view.starts_with(u"///")) return;
      ++line;
      --length;
      view.remove_prefix(1);
    }
    const size_t tab = view.find(u'\t');
    if (tab == std::u16string_view::npos || tab + 1 == length) return;
    char16_t* code = line + tab + 1;
    size_t codeLength = std::min(length - tab - 1, kMaxCodeUnits);
    uint32_t marks = 0;
    if (!RewriteCode(code, codeLength, marks)) return;
    const size_t entryLength = ResolveEscapes(line, tab);
    visit(ParsedLine{std::u16string_view(line, entryLength), std::u16string_view(code, codeLength),
                     marks, index++});
  });
}

// Collects the records of a table text given in one or more pieces, then
// sorts them, drops duplicates and writes the compiled table.
class TableCompiler {
 public:
  // The buffers grow with the text rather than reserving for its size up
  // front: reserved address space counts against a memory limit too.
  TableCompiler(const CharacterClassTable& classes, const CompileReport& report)
      : classes_(classes), report_(report) {}

  void Add(std::u16string& piece, double doneAfter) {
    ParseLines(piece, index_, [&](const ParsedLine& line) { AddLine(line); });
    if (report_) {
      const int percent = static_cast<int>(doneAfter * 100);
      if (percent != lastPercent_) report_(u"", lastPercent_ = percent, 100);
    }
  }

  Result<CompileSummary> Finish(const OpaqueHeader& opaque,
                                const std::function<void(std::span<const std::byte>)>& sink);

 private:
  void AddLine(const ParsedLine& line);
  void Message(uint32_t index, std::u16string text) {
    if (report_) messages_.emplace_back(index, std::move(text));
  }

  const CharacterClassTable& classes_;
  const CompileReport& report_;
  RecordArena arena_;
  std::vector<KeyItem> items_;
  std::vector<std::pair<uint32_t, std::u16string>> messages_;  // by line
  uint32_t index_ = 0;
  int lastPercent_ = -1;
};

void TableCompiler::AddLine(const ParsedLine& line) {
  const size_t l = line.code.size();
  const size_t e = line.entry.size();
  if (l == 0 || l > 128 || e > 128) {
    Message(line.index,
            FormatText(u"第[ %d行 ]无法支持的编码定义：%s %s",
                       {static_cast<long long>(line.index) + 1, line.entry, line.code}));
  }
  if (e > kMaxEntryUnits) {
    Message(line.index,
            FormatText(u"第[ %d行 ]词条超过255个字，未编入码表：%s",
                       {static_cast<long long>(line.index) + 1, line.entry.substr(0, 32)}));
    return;
  }
  uint8_t codeBytes[kMaxCodeUnits];
  for (size_t k = 0; k < l; ++k) codeBytes[k] = CodeByte(line.code[k]);
  const uint32_t word =
      line.marks | classes_.ClassBits(line.entry) | std::min<uint32_t>(line.index, kWeightMask);
  const uint32_t record = arena_.Append(word, std::span(codeBytes, l), line.entry);
  const uint8_t* r = arena_.At(record);
  items_.push_back(KeyItem{PackKey(r + 5, l, r + 6 + l, 2 * e), record});
}

}  // namespace

void ParseTableText(std::u16string& text, const std::function<void(const ParsedLine&)>& visit) {
  uint32_t index = 0;
  ParseLines(text, index, visit);
}

std::vector<ParsedLine> ParseTableText(std::u16string& text) {
  std::vector<ParsedLine> lines;
  ParseTableText(text, [&](const ParsedLine& line) { lines.push_back(line); });
  return lines;
}

Result<CompileSummary> CompileTableText(
    std::u16string& text, const CharacterClassTable& classes, const OpaqueHeader& opaque,
    const CompileReport& report, const std::function<void(std::span<const std::byte>)>& sink) try {
  TableCompiler compiler(classes, report);
  LinesWithoutTab skipped;
  skipped.Scan(text, true);
  compiler.Add(text, 1.0);
  std::u16string().swap(text);
  Result<CompileSummary> summary = compiler.Finish(opaque, sink);
  if (summary.IsOk()) summary->linesWithoutTab = std::move(skipped);
  return summary;
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

Result<CompileSummary> TableCompiler::Finish(
    const OpaqueHeader& opaque, const std::function<void(std::span<const std::byte>)>& sink) {
  CompileSummary summary;
  summary.parsedLines = index_;
  if (summary.parsedLines == 0) {
    return Status::InvalidArgument("", Tr("no line of the table can be compiled"));
  }
  std::vector<KeyItem>& items = items_;
  RecordArena& arena = arena_;
  std::vector<std::pair<uint32_t, std::u16string>>& messages = messages_;
  const CompileReport& report = report_;

  // Ties fall to the line order, so the order is total.
  SortOnBothCores(items.begin(), items.end(), [&](const KeyItem& a, const KeyItem& b) {
    if (a.key != b.key) {
      const bool shortCodes = ((a.key >> 28) & 15) <= 4 && ((b.key >> 28) & 15) <= 4;
      if (shortCodes || (a.key >> 32) != (b.key >> 32)) return a.key < b.key;
    }
    const int c = RecordArena::Compare(arena.At(a.record), arena.At(b.record));
    return c != 0 ? c < 0 : a.record < b.record;
  });
  // Equal keys are adjacent, the earliest line first: keep it alone.
  size_t kept = 0;
  uint64_t dataSize = 0;
  for (size_t k = 0; k < items.size(); ++k) {
    if (kept > 0 && items[k].key == items[kept - 1].key &&
        RecordArena::Compare(arena.At(items[k].record), arena.At(items[kept - 1].record)) == 0) {
      const uint32_t index =
          LoadU32(reinterpret_cast<const std::byte*>(arena.At(items[k].record))) & kWeightMask;
      if (report)
        messages.emplace_back(index,
                              FormatText(u"　　忽略第[ %d行 ]重复词条：%s ",
                                         {static_cast<long long>(index) + 1,
                                          std::u16string_view(arena.Entry(items[k].record))}));
      continue;
    }
    dataSize += RecordArena::Size(arena.At(items[k].record));
    items[kept++] = items[k];
  }
  items.resize(kept);
  const uint64_t a = kept;
  const uint64_t fileSize = kCompiledHeaderSize + 4 * a + 4 + dataSize;
  if (fileSize >= kFileLimit)
    return Status::Unsupported("", Tr("the compiled table would exceed 4 GiB"));
  summary.records = static_cast<uint32_t>(a);
  summary.dataSize = static_cast<uint32_t>(dataSize);
  summary.fileSize = static_cast<uint32_t>(fileSize);

  if (report) {
    std::stable_sort(messages.begin(), messages.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    for (const auto& message : messages) report(message.second, 0, 0);
    report(FormatText(u"　　码表信息：\r\n　　  码表大小：%d字节\r\n　　  原始码表行数：%d\r\n　　 "
                      u" 有效编码行数：%d",
                      {static_cast<long long>(dataSize),
                       static_cast<long long>(summary.parsedLines), static_cast<long long>(a)}),
           0, 0);
  }
  std::vector<std::pair<uint32_t, std::u16string>>().swap(messages);

  // Header, offsets and records, in pieces of about 256 KiB.
  std::vector<std::byte> out(kCompiledHeaderSize, std::byte{0});
  PutU32(out.data(), summary.fileSize);
  PutU32(out.data() + 4, static_cast<uint32_t>(kCompiledHeaderSize + 4 * a + 4));
  PutU32(out.data() + 8, summary.records);
  PutU32(out.data() + 12, 1);
  std::memcpy(out.data() + 16, kCompiledTableName.data(), 2 * kCompiledTableName.size());
  std::memcpy(out.data() + OpaqueHeader::kOffset, opaque.bytes.data(), opaque.bytes.size());
  PutU32(out.data() + 100, 1000);
  out[136] = std::byte{0xF0};
  constexpr size_t kChunk = 1 << 18;
  auto flush = [&](bool always) {
    if (out.size() >= kChunk || (always && !out.empty())) {
      sink(out);
      out.clear();
    }
  };
  auto append = [&](const void* p, size_t n) {
    const auto* b = static_cast<const std::byte*>(p);
    out.insert(out.end(), b, b + n);
    flush(false);
  };
  uint32_t position = static_cast<uint32_t>(kCompiledHeaderSize + 4 * a + 4);
  for (const KeyItem& item : items) {
    append(&position, 4);
    position += static_cast<uint32_t>(RecordArena::Size(arena.At(item.record)));
  }
  const uint32_t zero = 0;
  append(&zero, 4);
  for (const KeyItem& item : items) {
    const uint8_t* r = arena.At(item.record);
    const uint32_t stored = LoadU32(reinterpret_cast<const std::byte*>(r));
    const int64_t weight =
        static_cast<int64_t>(a) + kFirstWeightBase - kIndexBias - (stored & kWeightMask);
    // More than 900 dropped lines would make late weights negative; clamping
    // keeps the class and mark bits intact.
    const uint32_t word = (stored & ~kWeightMask) |
                          static_cast<uint32_t>(std::clamp<int64_t>(weight, 0, kWeightMask));
    append(&word, 4);
    append(r + 4, RecordArena::Size(r) - 4);
  }
  flush(true);
  arena.Release();
  std::vector<KeyItem>().swap(items);
  ReleaseFreedMemory();
  return summary;
}

Result<CompileSummary> CompileTable(FileSystem& fs, const std::filesystem::path& textPath,
                                    const std::filesystem::path& outPath,
                                    const CharacterClassTable& classes, const OpaqueHeader& opaque,
                                    const CompileReport& report) try {
  Result<std::unique_ptr<OutputFile>> file = fs.ReplaceFile(outPath);
  if (!file.IsOk()) return file.status();
  Result<PathInfo> info = fs.Query(textPath);
  const uint64_t size = info.IsOk() ? info->size : 0;
  // The text is read and parsed a piece at a time: only the records and
  // their sort keys are held for the whole table.
  TableCompiler compiler(classes, report);
  LinesWithoutTab skipped;
  Result<bool> compiled = IsCompiledTableFile(fs, textPath);
  if (!compiled.IsOk()) return compiled.status();
  if (!compiled.value()) {
    if (Status refused = RefuseFalseCompiledTable(textPath); !refused.IsOk()) return refused;
  }
  if (compiled.value()) {
    // Recompiling a compiled table: its text, whole.
    Result<TextBuffer> text = ReadTableText(fs, textPath);
    if (!text.IsOk()) return text.status();
    compiler.Add(text->text, 1.0);
  } else {
    Status read = ReadTextFileInPieces(
        fs, textPath,
        [&](std::u16string& piece, uint64_t done) {
          skipped.Scan(piece, true);
          compiler.Add(piece, size > 0 ? static_cast<double>(done) / size : 1.0);
        },
        size_t{1} << 18, true);
    if (!read.IsOk()) return read;
  }
  Status written;
  Result<CompileSummary> summary = compiler.Finish(opaque, [&](std::span<const std::byte> bytes) {
    if (written.IsOk()) written = file.value()->Append(bytes);
  });
  if (!summary.IsOk()) {
    if (summary.status().code() != Status::Code::kInvalidArgument) return summary.status();
    std::string message = summary.status().message();
    if (!skipped.empty()) message += "; " + skipped.Describe();
    return Status::InvalidArgument(textPath.string(), message);
  }
  if (!written.IsOk()) return written;
  Status committed = file.value()->Commit();
  if (!committed.IsOk()) return committed;
  summary->linesWithoutTab = std::move(skipped);
  return summary;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(textPath.string());
}

Status ValidateCompiledTable(std::span<const std::byte> table) {
  const uint64_t size = table.size();
  if (size < kCompiledHeaderSize + 4) {
    return Status::Corrupt("", Tr("too short for a compiled table ({1} bytes)", size));
  }
  const std::byte* base = table.data();
  const uint64_t total = LoadU32(base);
  const uint64_t a = LoadU32(base + 8);
  const uint32_t kind = LoadU32(base + 12);
  if (total > size) {
    return Status::Corrupt(
        "", Tr("truncated: the header gives {1} bytes, the file has {2}", total, size));
  }
  if (kind != 1 && kind != 3 && kind != 4 && kind != 5) {
    return Status::Corrupt("", Tr("unknown table kind {1}", kind));
  }
  const uint64_t first = kCompiledHeaderSize + 4 * a + 4;
  if (first > size) {
    return Status::Corrupt("", Tr("record count {1} does not fit in the file", a));
  }
  for (uint64_t k = 0; k < a; ++k) {
    const uint64_t at = LoadU32(base + kCompiledHeaderSize + 4 * k);
    auto bad = [&](const std::string& what) {
      return Status::Corrupt("", Tr("record {1} at offset {2}: {3}", k + 1, at, what));
    };
    if (at < first || at + 5 > size) return bad(Tr("offset outside the records"));
    const uint64_t l = static_cast<uint8_t>(base[at + 4]);
    if (kind == 5) {
      if (at + 5 + 2 * l > size) return bad(Tr("text runs past the end of the file"));
      continue;
    }
    if (at + 6 + l > size) return bad(Tr("code runs past the end of the file"));
    const uint64_t e = static_cast<uint8_t>(base[at + 5 + l]);
    if (at + 6 + l + 2 * e > size) return bad(Tr("entry runs past the end of the file"));
  }
  return Status::Ok();
}

OpaqueHeader ReadOpaqueHeader(std::span<const std::byte> table) {
  OpaqueHeader header;
  if (table.size() >= OpaqueHeader::kOffset + header.bytes.size()) {
    std::memcpy(header.bytes.data(), table.data() + OpaqueHeader::kOffset, header.bytes.size());
  }
  return header;
}

Status WriteCompiledTableText(std::span<const std::byte> table,
                              const std::function<void(std::u16string_view)>& sink) {
  Status valid = ValidateCompiledTable(table);
  if (!valid.IsOk()) return valid;
  const std::byte* base = table.data();
  const uint32_t a = LoadU32(base + 8);
  const uint32_t kind = LoadU32(base + 12);
  // Reading order as one number: higher mark group, then higher weight, then
  // later record first.
  std::vector<uint64_t> order;
  order.reserve(a);
  for (uint32_t k = 0; k < a; ++k) {
    const uint32_t word = LoadU32(base + LoadU32(base + kCompiledHeaderSize + 4 * size_t{k}));
    if (word & kSkipRecord) continue;
    const uint64_t group = (word & kMarkGroupMask) >> 28;
    order.push_back((3 - group) << 56 | uint64_t{kWeightMask - (word & kWeightMask)} << 32 |
                    (0xFFFFFFFFu - k));
  }
  std::sort(order.begin(), order.end());

  std::u16string out;
  constexpr size_t kChunk = 1 << 19;
  for (uint64_t item : order) {
    const uint32_t k = 0xFFFFFFFFu - static_cast<uint32_t>(item);
    const std::byte* r = base + LoadU32(base + kCompiledHeaderSize + 4 * size_t{k});
    const uint32_t word = LoadU32(r);
    const size_t start = out.size();
    auto appendUnits = [&](const std::byte* p, size_t units) {
      const size_t at = out.size();
      out.resize(at + units);
      std::memcpy(out.data() + at, p, 2 * units);
    };
    if (kind == 5) {
      appendUnits(r + 5, static_cast<uint8_t>(r[4]));
    } else {
      const size_t l = static_cast<uint8_t>(r[4]);
      appendUnits(r + 6 + l, static_cast<uint8_t>(r[5 + l]));
      out += u'\t';
      for (size_t j = 0; j < l; ++j) {
        const char16_t u = CodeUnit(static_cast<uint8_t>(r[5 + j]));
        if (u == 0) break;
        out += u;
      }
    }
    if (word & kMarkA) out += u"#a";
    const uint32_t group = (word & kMarkGroupMask) >> 28;
    if (group != 0) {
      out += u'#';
      out += static_cast<char16_t>(u'0' + group);
    }
    if (out.size() == start) continue;
    out += u"\r\n";
    if (out.size() >= kChunk) {
      sink(out);
      out.clear();
    }
  }
  if (!out.empty()) sink(out);
  return Status::Ok();
}

Result<std::u16string> CompiledTableToText(std::span<const std::byte> table) try {
  std::u16string text;
  Status status = WriteCompiledTableText(table, [&](std::u16string_view piece) { text += piece; });
  if (!status.IsOk()) return status;
  return text;
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

Result<OpaqueHeader> CompiledTableToTextFile(FileSystem& fs, const std::filesystem::path& tablePath,
                                             const std::filesystem::path& textPath) try {
  const std::string where = tablePath.string();
  // Read into memory, not mapped: another process may shrink the file while
  // it is read, and what was read is validated as a whole.
  Result<std::string> read = fs.ReadWhole(tablePath);
  if (!read.IsOk()) return read.status();
  std::span<const std::byte> bytes = std::as_bytes(std::span(read.value()));
  Status valid = ValidateCompiledTable(bytes);
  if (!valid.IsOk())
    return Status::Corrupt(where, Tr("not a readable compiled table: {1}", valid.message()));
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs, textPath);
  if (!writer.IsOk()) return writer.status();
  writer.value()->WriteBom();
  Status written = WriteCompiledTableText(
      bytes, [&](std::u16string_view piece) { writer.value()->Write(piece); });
  if (!written.IsOk()) return written;
  Status committed = writer.value()->Commit();
  if (!committed.IsOk()) return committed;
  return ReadOpaqueHeader(bytes);
} catch (const std::bad_alloc&) {
  return Status::NoMemory(tablePath.string());
}

bool HasCompiledTableHeader(std::span<const std::byte> head) {
  if (head.size() < kCompiledSignatureSize) return false;
  const uint32_t kind = LoadU32(head.data() + 12);
  return LoadU32(head.data()) >= kCompiledHeaderSize + 4 &&
         (kind == 1 || kind == 3 || kind == 4 || kind == 5);
}

Result<bool> IsCompiledTableFile(FileSystem& fs, const std::filesystem::path& path) {
  // A pipe is not opened here: what this read took would be lost to the
  // reader that follows.
  if (Result<PathInfo> info = fs.Query(path); info.IsOk() && info->kind == PathKind::kStream) {
    return false;
  }
  Result<std::string> head = fs.ReadHead(path, kCompiledSignatureSize);
  if (!head.IsOk()) return head.status();
  return HasCompiledTableHeader(std::as_bytes(std::span(head.value())));
}

Status RefuseFalseCompiledTable(const std::filesystem::path& path) {
  if (!HasExtension(path, u".ktb")) return Status::Ok();
  return Status::InvalidArgument(
      path.string(), Tr("not a compiled table: its first bytes are not a compiled table's header"));
}

Result<TextBuffer> ReadTableText(FileSystem& fs, const std::filesystem::path& path) try {
  Result<std::string> read = fs.ReadWhole(path);
  if (!read.IsOk()) return read.status();
  std::span<const std::byte> bytes = std::as_bytes(std::span(read.value()));
  if (!HasCompiledTableHeader(bytes)) {
    if (Status refused = RefuseFalseCompiledTable(path); !refused.IsOk()) return refused;
    return DecodeText(read.value());
  }
  Status valid = ValidateCompiledTable(bytes);
  if (!valid.IsOk()) {
    return Status::Corrupt(path.string(),
                           Tr("not a readable compiled table: {1}", valid.message()));
  }
  Result<std::u16string> text = CompiledTableToText(bytes);
  if (!text.IsOk()) return text.status();
  return TextBuffer{std::move(text).value(), TextEncoding::kUtf16Le};
} catch (const std::bad_alloc&) {
  return Status::NoMemory(path.string());
}

Status CompiledTableRefused(const std::filesystem::path& path, std::string_view role) {
  return Status::InvalidArgument(
      path.string(),
      Tr("a compiled table cannot be used as the {1}; turn it into text first (decompile)", role));
}

Result<TextBuffer> ReadPlainText(FileSystem& fs, const std::filesystem::path& path,
                                 std::string_view role) try {
  Result<std::string> read = fs.ReadWhole(path);
  if (!read.IsOk()) return read.status();
  if (HasCompiledTableHeader(std::as_bytes(std::span(read.value())))) {
    return CompiledTableRefused(path, role);
  }
  return DecodeText(read.value());
} catch (const std::bad_alloc&) {
  return Status::NoMemory(path.string());
}

}  // namespace mirel
