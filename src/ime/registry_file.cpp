#include "ime/registry_file.h"

#include <cstdint>
#include <new>

#include "platform/codepage.h"
#include "platform/lines.h"
#include "platform/messages.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {
namespace {

using View = std::u16string_view;

constexpr size_t kNone = static_cast<size_t>(-1);

enum class Format { kRegedit4, kRegedit5, kWine };

bool IsBlank(char16_t u) { return u == u' ' || u == u'\t' || u == u'\uFEFF'; }

View TrimLeft(View text) {
  size_t k = 0;
  while (k < text.size() && IsBlank(text[k])) ++k;
  return text.substr(k);
}

View TrimRight(View text) {
  size_t n = text.size();
  while (n > 0 && IsBlank(text[n - 1])) --n;
  return text.substr(0, n);
}

View Trim(View text) { return TrimRight(TrimLeft(text)); }

// `lower` is lower case ASCII.
bool StartsWithFolded(View text, View lower) {
  if (text.size() < lower.size()) return false;
  for (size_t k = 0; k < lower.size(); ++k) {
    if (FoldAsciiUpper(text[k]) != lower[k]) return false;
  }
  return true;
}

bool EqualsFolded(View text, View lower) {
  return text.size() == lower.size() && StartsWithFolded(text, lower);
}

int HexDigit(char16_t u) {
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'a' && u <= u'f') return u - u'a' + 10;
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  return -1;
}

std::vector<View> SplitLines(View text) {
  std::vector<View> lines;
  LineReader reader(text, {.breaks = LineBreaks::kEach});
  View line;
  while (reader.Next(line)) lines.push_back(line);
  return lines;
}

// Components of a '\'-separated path; empty ones (doubled or trailing
// separators) are left out.
std::vector<std::u16string> SplitPath(View path) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  for (size_t k = 0; k <= path.size(); ++k) {
    if (k < path.size() && path[k] != u'\\') continue;
    if (k > start) parts.emplace_back(path.substr(start, k - start));
    start = k + 1;
  }
  return parts;
}

std::u16string Folded(View part) {
  std::u16string folded(part);
  for (char16_t& u : folded) u = FoldAsciiUpper(u);
  return folded;
}

void CutAtNul(std::u16string& text) {
  size_t nul = text.find(u'\0');
  if (nul != std::u16string::npos) text.resize(nul);
}

// One escape of Wine's files, the backslash at text[pos - 1]; advances pos.
char16_t ReadWineEscape(View text, size_t& pos) {
  const char16_t c = text[pos++];
  switch (c) {
    case u'n':
      return u'\n';
    case u'r':
      return u'\r';
    case u't':
      return u'\t';
    case u'a':
      return u'\a';
    case u'b':
      return u'\b';
    case u'e':
      return u'\x1B';
    case u'f':
      return u'\f';
    case u'v':
      return u'\v';
    case u'x': {
      uint32_t value = 0;
      int digits = 0;
      while (digits < 4 && pos < text.size() && HexDigit(text[pos]) >= 0) {
        value = value * 16 + static_cast<uint32_t>(HexDigit(text[pos++]));
        ++digits;
      }
      return digits == 0 ? u'x' : static_cast<char16_t>(value);
    }
    default:
      break;
  }
  // Wine writes other control characters in octal ("\0", "\33").
  if (c >= u'0' && c <= u'7') {
    uint32_t value = c - u'0';
    for (int digits = 1; digits < 3 && pos < text.size() && text[pos] >= u'0' && text[pos] <= u'7';
         ++digits) {
      value = value * 8 + (text[pos++] - u'0');
    }
    return static_cast<char16_t>(value);
  }
  return c;  // \\ \" \[ \] and anything unknown stand for themselves
}

// Reads escaped text from `pos` up to the unescaped `close` (or the end of
// the text when `close` is 0) and leaves pos past it. False when `close`
// never comes.
bool ReadEscaped(View text, size_t& pos, char16_t close, Format format, std::u16string& out) {
  while (pos < text.size()) {
    const char16_t c = text[pos++];
    if (close != 0 && c == close) return true;
    if (c != u'\\' || pos >= text.size()) {
      out.push_back(c);
      continue;
    }
    if (format == Format::kWine) {
      out.push_back(ReadWineEscape(text, pos));
    } else if (text[pos] == u'\\' || text[pos] == u'"') {
      out.push_back(text[pos++]);
    } else {
      out.push_back(c);  // the registry editor escapes only \ and "
    }
  }
  return close == 0;
}

bool ReadQuoted(View text, size_t& pos, Format format, std::u16string& out) {
  if (pos >= text.size() || text[pos] != u'"') return false;
  ++pos;
  return ReadEscaped(text, pos, u'"', format, out);
}

// A hexadecimal type number up to ')'; pos at its first digit, left past ')'.
bool ReadTypeNumber(View text, size_t& pos, uint32_t& type) {
  type = 0;
  int digits = 0;
  while (pos < text.size() && HexDigit(text[pos]) >= 0) {
    if (++digits > 8) return false;
    type = type * 16 + static_cast<uint32_t>(HexDigit(text[pos++]));
  }
  if (digits == 0 || pos >= text.size() || text[pos] != u')') return false;
  ++pos;
  return true;
}

// Comma-separated bytes of one or two hex digits; blanks and empty items
// (a trailing comma) are allowed.
bool ReadHexBytes(View text, std::string& bytes) {
  size_t start = 0;
  for (size_t k = 0; k <= text.size(); ++k) {
    if (k < text.size() && text[k] != u',') continue;
    View item = Trim(text.substr(start, k - start));
    start = k + 1;
    if (item.empty()) continue;
    if (item.size() > 2) return false;
    int value = 0;
    for (char16_t u : item) {
      if (HexDigit(u) < 0) return false;
      value = value * 16 + HexDigit(u);
    }
    bytes.push_back(static_cast<char>(value));
  }
  return true;
}

std::u16string DecodeStringBytes(std::string_view bytes, Format format) {
  if (format == Format::kRegedit4) {
    return DecodeLegacyCodePage(bytes.substr(0, bytes.find('\0')));
  }
  std::u16string text;
  for (size_t k = 0; k + 1 < bytes.size(); k += 2) {
    const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[k]) |
                                            static_cast<unsigned char>(bytes[k + 1]) << 8);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;

}  // namespace

class RegistryFile::Parser {
 public:
  Parser(RegistryFile& file, Format format) : file_(file), format_(format) {}

  void Comment(View line) {
    if (format_ != Format::kWine) return;
    size_t k = 0;
    while (k < line.size() && (line[k] == u';' || IsBlank(line[k]))) ++k;
    constexpr View kRelative = u"all keys relative to ";
    if (!StartsWithFolded(line.substr(k), kRelative)) return;
    View root = Trim(line.substr(k + kRelative.size()));
    std::u16string unescaped;
    size_t pos = 0;
    ReadEscaped(root, pos, 0, format_, unescaped);
    // Only a file of machine keys is read; user.reg names the user's keys.
    std::vector<std::u16string> parts = SplitPath(unescaped);
    machineKeys_ = parts.size() == 1 && EqualsFolded(parts[0], u"machine");
  }

  // `number` is the line's number in the file, for the message.
  Status KeyLine(View line, size_t number) {
    current_ = kNone;
    if (format_ == Format::kWine) {
      std::u16string path;
      size_t pos = 1;
      if (!machineKeys_ || !ReadEscaped(line, pos, u']', format_, path)) return Status::Ok();
      return Enter(SplitPath(path), number);
    }
    const size_t close = line.rfind(u']');
    if (close == View::npos) return Status::Ok();
    View path = line.substr(1, close - 1);
    // A deletion is meaningless in a snapshot.
    if (!path.empty() && path[0] == u'-') return Status::Ok();
    const size_t slash = path.find(u'\\');
    View hive = path.substr(0, slash);
    if (!EqualsFolded(hive, u"hkey_local_machine") && !EqualsFolded(hive, u"hklm")) {
      return Status::Ok();
    }
    return Enter(SplitPath(slash == View::npos ? View() : path.substr(slash + 1)), number);
  }

  void ValueLine(View line) {
    if (current_ == kNone) return;
    Value value;
    size_t pos = 0;
    std::u16string name;
    if (line[0] == u'@') {
      pos = 1;
    } else if (!ReadQuoted(line, pos, format_, name)) {
      return;
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != u'=') return;
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (!ReadData(line, pos, value)) return;
    value.foldedName = FoldAscii(name);
    file_.keys_[current_].values.push_back(std::move(value));
  }

 private:
  bool ReadData(View line, size_t pos, Value& value) {
    View rest = line.substr(pos);
    if (!rest.empty() && rest[0] == u'"') {
      if (!ReadQuoted(line, pos, format_, value.text)) return false;
      value.isString = true;
      CutAtNul(value.text);
      return true;
    }
    if (StartsWithFolded(rest, u"str:") || StartsWithFolded(rest, u"str(")) {
      uint32_t type = kRegSz;
      pos += 3;
      if (line[pos] == u'(' && !ReadTypeNumber(line, ++pos, type)) return false;
      if (pos >= line.size() || line[pos] != u':') return false;
      ++pos;
      if (!ReadQuoted(line, pos, format_, value.text)) return false;
      value.isString = type == kRegSz || type == kRegExpandSz;
      CutAtNul(value.text);
      return true;
    }
    if (StartsWithFolded(rest, u"dword:")) return true;
    if (StartsWithFolded(rest, u"hex:") || StartsWithFolded(rest, u"hex(")) {
      uint32_t type = 3;  // REG_BINARY
      pos += 3;
      if (line[pos] == u'(' && !ReadTypeNumber(line, ++pos, type)) return false;
      if (pos >= line.size() || line[pos] != u':') return false;
      std::string bytes;
      if (!ReadHexBytes(line.substr(pos + 1), bytes)) return false;
      if (type == kRegSz || type == kRegExpandSz) {
        value.isString = true;
        value.text = DecodeStringBytes(bytes, format_);
      }
      return true;
    }
    return false;
  }

  Status Enter(const std::vector<std::u16string>& parts, size_t number) {
    if (parts.size() > kMaxKeyDepth) {
      return Status::Corrupt("line " + std::to_string(number),
                             "key path of " + std::to_string(parts.size()) +
                                 " parts; the registry allows at most " +
                                 std::to_string(kMaxKeyDepth));
    }
    current_ = file_.AddKey(parts);
    return Status::Ok();
  }

  RegistryFile& file_;
  const Format format_;
  bool machineKeys_ = true;
  size_t current_ = kNone;  // the key values go to; none after an ignored key line
};

RegistryFile::RegistryFile() { keys_.emplace_back(); }

size_t RegistryFile::ChildNameHash::operator()(const ChildName& name) const {
  return std::hash<std::u16string>()(name.folded) ^ (name.parent * 0x9E3779B97F4A7C15u);
}

size_t RegistryFile::AddKey(const std::vector<std::u16string>& components) {
  size_t at = 0;
  for (const std::u16string& part : components) {
    auto [it, inserted] = byName_.try_emplace(ChildName{at, Folded(part)}, keys_.size());
    if (inserted) {
      keys_.emplace_back().name = part;
      keys_[at].children.push_back(it->second);
    }
    at = it->second;
  }
  return at;
}

const RegistryFile::Key* RegistryFile::Find(std::u16string_view path) const {
  size_t at = 0;
  for (const std::u16string& part : SplitPath(path)) {
    auto it = byName_.find(ChildName{at, Folded(part)});
    if (it == byName_.end()) return nullptr;
    at = it->second;
  }
  return &keys_[at];
}

Result<RegistryFile> RegistryFile::Parse(std::u16string_view text) {
  try {
    const std::vector<View> lines = SplitLines(text);
    size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    const View header = i < lines.size() ? Trim(lines[i]) : View();
    Format format;
    if (EqualsFolded(header, u"regedit4")) {
      format = Format::kRegedit4;
    } else if (EqualsFolded(header, u"windows registry editor version 5.00")) {
      format = Format::kRegedit5;
    } else if (EqualsFolded(header, u"wine registry version 2")) {
      format = Format::kWine;
    } else {
      return Status::Unsupported("", Tr("not a registry file (unknown first line)"));
    }
    RegistryFile file;
    Parser parser(file, format);
    for (++i; i < lines.size(); ++i) {
      const View line = TrimLeft(lines[i]);
      if (line.empty() || line[0] == u'#') continue;  // Wine's #time, #arch, #link
      if (line[0] == u';') {
        parser.Comment(line);
      } else if (line[0] == u'[') {
        Status entered = parser.KeyLine(TrimRight(line), i + 1);
        if (!entered.IsOk()) return entered;
      } else if (line[0] == u'"' || line[0] == u'@') {
        View value = TrimRight(line);
        if (value.back() != u'\\') {
          parser.ValueLine(value);
          continue;
        }
        // Long hex data goes on over indented lines; a line that starts a
        // key, value or comment ends it, so a cut-off value cannot swallow it.
        std::u16string joined(value.substr(0, value.size() - 1));
        while (i + 1 < lines.size()) {
          const View next = Trim(lines[i + 1]);
          if (next.empty() || next[0] == u'[' || next[0] == u'"' || next[0] == u'@' ||
              next[0] == u';' || next[0] == u'#') {
            break;
          }
          ++i;
          const bool more = next.back() == u'\\';
          joined.append(more ? next.substr(0, next.size() - 1) : next);
          if (!more) break;
        }
        parser.ValueLine(joined);
      }
    }
    return file;
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("");
  }
}

Result<RegistryFile> RegistryFile::Load(FileSystem& fs, const std::filesystem::path& path) {
  Result<std::string> bytes = ReadFileBytes(fs, path);
  if (!bytes.IsOk()) return bytes.status();
  try {
    Result<RegistryFile> file = Parse(DecodeText(bytes.value()).text);
    if (file.IsOk()) return file;
    if (file.status().code() == Status::Code::kNoMemory) return Status::NoMemory(path.string());
    return Status::Unsupported(path.string(), file.status().message());
  } catch (const std::bad_alloc&) {
    return Status::NoMemory(path.string());
  }
}

bool RegistryFile::HasKey(std::u16string_view path) const { return Find(path) != nullptr; }

std::vector<std::u16string> RegistryFile::SubkeyNames(std::u16string_view path) const {
  std::vector<std::u16string> names;
  if (const Key* key = Find(path)) {
    names.reserve(key->children.size());
    for (size_t child : key->children) names.push_back(keys_[child].name);
  }
  return names;
}

std::optional<std::u16string> RegistryFile::StringValue(std::u16string_view keyPath,
                                                        std::u16string_view valueName) const {
  const Key* key = Find(keyPath);
  if (key == nullptr) return std::nullopt;
  const std::u16string folded = valueName == u"@" ? std::u16string() : FoldAscii(valueName);
  // A name given twice counts as its last line, as an import would leave it.
  for (auto it = key->values.rbegin(); it != key->values.rend(); ++it) {
    if (it->foldedName != folded) continue;
    if (!it->isString) return std::nullopt;
    return it->text;
  }
  return std::nullopt;
}

}  // namespace mirel
