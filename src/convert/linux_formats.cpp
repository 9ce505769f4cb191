#include "convert/linux_formats.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "platform/lines.h"
#include "platform/messages.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel::linux_table {
namespace {

constexpr std::array<LinuxFormatInfo, 5> kFormats = {{
    {LinuxFormat::kFcitxText, "fcitx5", u"fcitx5码表文本", u"___fcitx5.txt", true},
    {LinuxFormat::kFcitxBinary, "fcitx5-dict", u"fcitx5二进制码表(.main.dict)", u".main.dict",
     true},
    {LinuxFormat::kRime, "rime", u"Rime词典(.dict.yaml)", u".dict.yaml", true},
    {LinuxFormat::kIbusSource, "ibus", u"ibus-table源码表", u"___ibus.txt", true},
    {LinuxFormat::kIbusDatabase, "ibus-db", u"ibus-table数据库(.db)", u".db", false},
}};

// Cuts bytes into lines at LF; a CR ending a line goes with the line end.
class LineCutter {
 public:
  explicit LineCutter(std::string_view bytes) : lines_(bytes, {.breaks = LineBreaks::kLf}) {}
  bool Next(std::string_view& line) {
    if (!lines_.Next(line)) return false;
    if (line.ends_with('\r')) line.remove_suffix(1);
    return true;
  }
  uint32_t number() const { return static_cast<uint32_t>(lines_.number()); }
  // The bytes consumed so far, line ends included.
  size_t offset() const { return lines_.offset(); }

 private:
  ByteLineReader lines_;
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::string_view SkipBom(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return bytes;
}

// Reads the header up to and including the first line `ends` accepts, into
// `header` with a line end of its own; false when no line ends it. `lines`
// then stands on the first line after the header.
template <class Ends>
bool CutHeader(std::string_view bytes, LineCutter& lines, Ends ends, std::string& header) {
  std::string_view line;
  while (lines.Next(line)) {
    if (ends(line)) {
      header.assign(bytes.substr(0, lines.offset()));
      if (!header.ends_with('\n')) header += '\n';
      return true;
    }
  }
  return false;
}

// "Key=Value" or "KEY = VALUE" settings of the fcitx5 and ibus-table headers.
std::optional<std::pair<std::string_view, std::string_view>> Setting(std::string_view line) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos || eq == 0) return std::nullopt;
  return std::make_pair(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

uint32_t ParseCount(std::string_view text) {
  uint32_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() ? value : 0;
}

// A weight's numeric value for ordering; nullopt for none or a percentage,
// which the input method weighs against other tables and this tool leaves
// where it is.
std::optional<double> WeightValue(std::string_view weight) {
  weight = Trim(weight);
  if (weight.empty()) return 0.0;
  double value = 0;
  auto [ptr, ec] = std::from_chars(weight.data(), weight.data() + weight.size(), value);
  if (ec != std::errc() || ptr != weight.data() + weight.size()) return std::nullopt;
  // "inf" and "nan" parse, but order nothing.
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

// Never in exponent notation: the files write 551000000, not 5.51e+08.
std::string WeightText(double value) {
  char buffer[400];  // room for any finite double in fixed notation
  auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return ec == std::errc() ? std::string(buffer, ptr) : std::string("0");
}

size_t CharacterCount(std::string_view utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

struct PairHash {
  size_t operator()(const std::pair<std::string_view, std::string_view>& p) const {
    const std::hash<std::string_view> h;
    return h(p.first) * 31 + h(p.second);
  }
};

// The header, each row by `row` with the kept lines before it, and, for a
// format with a footer, the table's (`noFooter` when it has none).
template <class Row>
std::string WriteLineTable(const LinuxTable& table, size_t bytesPerRow, const char* noFooter,
                           Row row) {
  std::string out;
  out.reserve(table.header.size() + table.footer.size() + table.rows.size() * bytesPerRow);
  out += table.header;
  size_t kept = 0;
  for (size_t i = 0; i <= table.rows.size(); ++i) {
    while (kept < table.kept.size() && table.kept[kept].beforeRow <= i) {
      out += table.kept[kept++].text;
      out += '\n';
    }
    if (i == table.rows.size()) break;
    row(table.rows[i], out);
    out += '\n';
  }
  if (noFooter != nullptr) out += table.footer.empty() ? noFooter : std::string_view(table.footer);
  return out;
}

// ---- fcitx5 text ---------------------------------------------------------

// ---- the skeleton of the fcitx5 and ibus-table sources -------------------

// A header ended by one line, then a row a line, with blank lines and the
// format's comments kept where they are; ibus-table's rows end at a line of
// their own, which begins the footer.
struct LineTableShape {
  LinuxFormat format;
  std::string_view headerEnd;
  std::string_view bodyEnd;  // empty: the rows go on to the end of the file
  size_t bytesPerRow;        // a guess, to reserve the rows
};

enum class Missing { kNothing, kHeaderEnd, kBodyEnd };

// `keep(line)` tells a comment to keep; `row(line, number, out)` takes any
// other line that is not blank, as a row or a diagnostic.
template <class Keep, class Row>
Missing ReadLineTable(std::string_view bytes, const LineTableShape& shape, Keep keep, Row row,
                      ReadResult& out) {
  bytes = SkipBom(bytes);
  LinuxTable& table = out.table;
  table.format = shape.format;
  LineCutter lines(bytes);
  if (!CutHeader(
          bytes, lines, [&](std::string_view line) { return Trim(line) == shape.headerEnd; },
          table.header)) {
    return Missing::kHeaderEnd;
  }
  std::string_view line;
  table.rows.reserve(bytes.size() / shape.bytesPerRow);
  while (lines.Next(line)) {
    if (!shape.bodyEnd.empty() && Trim(line) == shape.bodyEnd) {
      table.footer.assign(bytes.substr(static_cast<size_t>(line.data() - bytes.data())));
      if (!table.footer.ends_with('\n')) table.footer += '\n';
      return Missing::kNothing;
    }
    if (Trim(line).empty() || keep(line)) {
      table.kept.push_back({table.rows.size(), std::string(line)});
      continue;
    }
    row(line, lines.number(), out);
  }
  return shape.bodyEnd.empty() ? Missing::kNothing : Missing::kBodyEnd;
}

// ---- fcitx5 text ---------------------------------------------------------

Result<ReadResult> ReadFcitx(std::string_view bytes) {
  ReadResult out;
  const Missing missing = ReadLineTable(
      bytes, {LinuxFormat::kFcitxText, "[Data]", {}, 12}, [](std::string_view) { return false; },
      [](std::string_view line, uint32_t number, ReadResult& read) {
        const size_t space = line.find_first_of(" \t");
        const size_t word =
            space == std::string_view::npos ? space : line.find_first_not_of(" \t", space);
        if (space == 0 || word == std::string_view::npos) {
          read.diagnostics.push_back({number, Tr("not a \"code word\" line: {1}", line)});
          return;
        }
        LinuxRow row;
        row.code.assign(line.substr(0, space));
        row.entry.assign(line.substr(word));
        row.line = number;
        read.table.rows.push_back(std::move(row));
      },
      out);
  if (missing == Missing::kHeaderEnd) {
    return Status::Corrupt("fcitx5 table", Tr("no [Data] line ends the header"));
  }
  return out;
}

std::string WriteFcitx(const LinuxTable& table) {
  return WriteLineTable(table, 12, nullptr, [](const LinuxRow& row, std::string& out) {
    out += row.code;
    out += ' ';
    out += row.entry;
  });
}

HeaderSettings FcitxSettings(std::string_view header) {
  HeaderSettings s;
  LineCutter lines(header);
  std::string_view line;
  bool rules = false;
  while (lines.Next(line)) {
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      rules = line == "[Rule]";
      continue;
    }
    auto kv = Setting(line);
    if (!kv) continue;
    if (rules) {
      s.rules.push_back(std::string(kv->first) + "=" + std::string(kv->second));
    } else if (kv->first == "KeyCode") {
      s.keys = kv->second;
    } else if (kv->first == "Length") {
      s.maxCodeLength = ParseCount(kv->second);
    } else if (kv->first == "Name") {
      s.name = kv->second;
    }
  }
  return s;
}

// The marker characters of fcitx5 data lines (prompts, construction codes,
// pinyin) named in the header.
std::string FcitxMarkers(std::string_view header) {
  std::string markers;
  LineCutter lines(header);
  std::string_view line;
  while (lines.Next(line)) {
    auto kv = Setting(Trim(line));
    if (!kv || kv->second.empty()) continue;
    if (kv->first == "Prompt" || kv->first == "ConstructPhrase" || kv->first == "Pinyin") {
      markers += kv->second.front();
    }
  }
  return markers;
}

// ---- Rime -------------------------------------------------------------------

struct RimeColumns {
  int text = 0, code = 1, weight = 2, stem = -1;
  int count = 3;
  bool byWeight = true;
};

Result<RimeColumns> RimeLayout(std::string_view header) {
  RimeColumns c;
  YAML::Node doc;
  try {
    doc = YAML::Load(std::string(header));
  } catch (const YAML::Exception& e) {
    return Status::Corrupt("Rime header:" + std::to_string(e.mark.line + 1), e.msg);
  }
  if (!doc.IsMap()) return Status::Corrupt("Rime header", Tr("it is not a YAML mapping"));
  if (YAML::Node sort = doc["sort"]; sort && sort.IsScalar()) {
    c.byWeight = sort.Scalar() != "original";
  }
  if (YAML::Node columns = doc["columns"]; columns) {
    if (!columns.IsSequence() || columns.size() == 0) {
      return Status::Corrupt("Rime header", Tr("columns is not a list of column names"));
    }
    c = RimeColumns{-1, -1, -1, -1, static_cast<int>(columns.size()), c.byWeight};
    for (size_t i = 0; i < columns.size(); ++i) {
      const std::string name = columns[i].IsScalar() ? columns[i].Scalar() : "";
      int* slot = name == "text"     ? &c.text
                  : name == "code"   ? &c.code
                  : name == "weight" ? &c.weight
                  : name == "stem"   ? &c.stem
                                     : nullptr;
      if (!slot) return Status::Corrupt("Rime header", Tr("unknown column \"{1}\"", name));
      *slot = static_cast<int>(i);
    }
    if (c.text < 0) return Status::Corrupt("Rime header", Tr("columns has no text column"));
  }
  return c;
}

// Only a "..." at the start of a line ends the YAML document; indented, it
// is text inside a block scalar. A comment may follow it.
bool IsDocumentEnd(std::string_view line) {
  if (!line.starts_with("...")) return false;
  line.remove_prefix(3);
  return Trim(line).empty() ||
         ((line.front() == ' ' || line.front() == '\t') && Trim(line).front() == '#');
}

Result<ReadResult> ReadRimeDict(std::string_view bytes) {
  bytes = SkipBom(bytes);
  ReadResult out;
  LinuxTable& table = out.table;
  table.format = LinuxFormat::kRime;
  LineCutter lines(bytes);
  if (!CutHeader(bytes, lines, IsDocumentEnd, table.header)) {
    return Status::Corrupt("Rime dictionary", Tr("no \"...\" line ends the YAML header"));
  }
  std::string_view line;
  Result<RimeColumns> columns = RimeLayout(table.header);
  if (!columns.IsOk()) return columns.status();
  const RimeColumns c = columns.value();
  table.rows.reserve(bytes.size() / 14);
  bool comments = true;
  std::vector<std::string_view> fields;
  while (lines.Next(line)) {
    if (Trim(line).empty() || (comments && line.front() == '#')) {
      if (line == "# no comment") comments = false;
      table.kept.push_back({table.rows.size(), std::string(line)});
      continue;
    }
    fields.clear();
    size_t start = 0;
    while (true) {
      const size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    if (fields.size() > static_cast<size_t>(c.count)) {
      out.diagnostics.push_back(
          {lines.number(), Tr("more columns than the header names; kept as a comment: {1}", line)});
      table.kept.push_back({table.rows.size(), "# " + std::string(line)});
      continue;
    }
    auto field = [&](int index) {
      return index >= 0 && static_cast<size_t>(index) < fields.size() ? std::string(fields[index])
                                                                      : std::string();
    };
    LinuxRow row;
    row.entry = field(c.text);
    if (row.entry.empty()) {
      out.diagnostics.push_back({lines.number(), Tr("no text: {1}", line)});
      table.kept.push_back({table.rows.size(), "# " + std::string(line)});
      continue;
    }
    row.code = field(c.code);
    row.weight = field(c.weight);
    row.stem = field(c.stem);
    row.line = lines.number();
    table.rows.push_back(std::move(row));
  }
  return out;
}

std::string WriteRimeDict(const LinuxTable& table) {
  Result<RimeColumns> layout = RimeLayout(table.header);
  const RimeColumns c = layout.IsOk() ? layout.value() : RimeColumns{};
  std::string out;
  out.reserve(table.header.size() + table.rows.size() * 16);
  out += table.header;
  size_t kept = 0;
  std::vector<const std::string*> fields(c.count);
  const std::string empty;
  for (size_t i = 0; i <= table.rows.size(); ++i) {
    while (kept < table.kept.size() && table.kept[kept].beforeRow <= i) {
      out += table.kept[kept++].text;
      out += '\n';
    }
    if (i == table.rows.size()) break;
    const LinuxRow& row = table.rows[i];
    std::fill(fields.begin(), fields.end(), &empty);
    if (c.text >= 0) fields[c.text] = &row.entry;
    if (c.code >= 0) fields[c.code] = &row.code;
    if (c.weight >= 0) fields[c.weight] = &row.weight;
    if (c.stem >= 0) fields[c.stem] = &row.stem;
    // Trailing empty columns are left off, as people write them.
    size_t used = fields.size();
    while (used > 1 && fields[used - 1]->empty()) --used;
    for (size_t f = 0; f < used; ++f) {
      if (f) out += '\t';
      out += *fields[f];
    }
    out += '\n';
  }
  return out;
}

// Rime's encoder formulas: upper case letters pick a character (A first, Z
// last, Y the one before), lower case a key of its code (a first, z last).
std::optional<std::string> RimeFormulaFromFcitx(std::string_view expr) {
  std::string formula;
  size_t pos = 0;
  while (pos < expr.size()) {
    const size_t plus = expr.find('+', pos);
    std::string_view term = expr.substr(pos, plus == std::string_view::npos ? plus : plus - pos);
    pos = plus == std::string_view::npos ? expr.size() : plus + 1;
    if (term.size() != 3 || (term[0] != 'p' && term[0] != 'n')) return std::nullopt;
    const int character = term[1] - '0', key = term[2] - '0';
    if (character < 1 || character > 9 || key < 1 || key > 9) return std::nullopt;
    formula += term[0] == 'p' ? char('A' + character - 1) : char('Z' - (character - 1));
    formula += char('a' + key - 1);
  }
  return formula;
}

std::optional<std::string> FcitxExprFromRime(std::string_view formula) {
  if (formula.size() % 2 != 0) return std::nullopt;
  std::string expr;
  for (size_t i = 0; i < formula.size(); i += 2) {
    const char c = formula[i], k = formula[i + 1];
    if (c < 'A' || c > 'Z' || k < 'a' || k > 'i') return std::nullopt;
    if (!expr.empty()) expr += '+';
    if (c <= 'I') {
      expr += 'p';
      expr += char('1' + (c - 'A'));
    } else if (c >= 'R') {
      expr += 'n';
      expr += char('1' + ('Z' - c));
    } else {
      return std::nullopt;
    }
    expr += char('1' + (k - 'a'));
  }
  return expr;
}

Result<HeaderSettings> RimeSettings(std::string_view header) {
  HeaderSettings s;
  YAML::Node doc;
  try {
    doc = YAML::Load(std::string(header));
  } catch (const YAML::Exception& e) {
    return Status::Corrupt("Rime header:" + std::to_string(e.mark.line + 1), e.msg);
  }
  if (!doc.IsMap()) return Status::Corrupt("Rime header", Tr("it is not a YAML mapping"));
  try {
    if (doc["name"]) s.name = doc["name"].as<std::string>();
    if (YAML::Node encoder = doc["encoder"]; encoder && encoder.IsMap()) {
      if (YAML::Node rules = encoder["rules"]; rules && rules.IsSequence()) {
        for (const YAML::Node& rule : rules) {
          if (!rule.IsMap() || !rule["formula"]) continue;
          const std::optional<std::string> expr =
              FcitxExprFromRime(rule["formula"].as<std::string>());
          if (!expr) continue;
          if (YAML::Node equal = rule["length_equal"]) {
            s.rules.push_back("e" + equal.as<std::string>() + "=" + *expr);
          } else if (YAML::Node range = rule["length_in_range"];
                     range && range.IsSequence() && range.size() == 2) {
            s.rules.push_back("a" + range[0].as<std::string>() + "=" + *expr);
          }
        }
      }
    }
  } catch (const YAML::Exception& e) {
    return Status::Corrupt("Rime header:" + std::to_string(e.mark.line + 1), e.msg);
  }
  return s;
}

std::string RimeHeader(const HeaderSettings& s, std::vector<Diagnostic>& diagnostics) {
  YAML::Emitter e;
  e << YAML::BeginMap;
  e << YAML::Key << "name" << YAML::Value << (s.name.empty() ? std::string("mirel") : s.name);
  e << YAML::Key << "version" << YAML::Value << YAML::DoubleQuoted << "1.0";
  e << YAML::Key << "sort" << YAML::Value << "by_weight";
  e << YAML::Key << "columns" << YAML::Value << YAML::BeginSeq << "text"
    << "code"
    << "weight" << YAML::EndSeq;
  std::vector<std::pair<std::string, std::string>> rules;
  for (const std::string& rule : s.rules) {
    const size_t eq = rule.find('=');
    std::optional<std::string> formula;
    if (eq != std::string::npos && eq >= 2) formula = RimeFormulaFromFcitx(rule.substr(eq + 1));
    if (!formula || (rule[0] != 'e' && rule[0] != 'a')) {
      diagnostics.push_back({0, Tr("construction rule Rime cannot express: {1}", rule)});
      continue;
    }
    rules.emplace_back(rule.substr(0, eq), *formula);
  }
  if (!rules.empty()) {
    e << YAML::Key << "encoder" << YAML::Value << YAML::BeginMap;
    e << YAML::Key << "rules" << YAML::Value << YAML::BeginSeq;
    for (const auto& [when, formula] : rules) {
      e << YAML::BeginMap;
      const uint32_t n = ParseCount(std::string_view(when).substr(1));
      if (when[0] == 'e') {
        e << YAML::Key << "length_equal" << YAML::Value << n;
      } else {
        e << YAML::Key << "length_in_range" << YAML::Value << YAML::Flow << YAML::BeginSeq << n
          << 10 << YAML::EndSeq;
      }
      e << YAML::Key << "formula" << YAML::Value << YAML::DoubleQuoted << formula;
      e << YAML::EndMap;
    }
    e << YAML::EndSeq << YAML::EndMap;
  }
  e << YAML::EndMap;
  std::string header = "# Rime dictionary\n# encoding: utf-8\n";
  if (!s.keys.empty() || s.maxCodeLength) {
    // The key set and code length belong to the schema in Rime; they ride
    // along as comments so that a conversion back can find them.
    header += "# mirel-keys: " + s.keys +
              "\n# mirel-max-code-length: " + std::to_string(s.maxCodeLength) + "\n";
  }
  header += "\n---\n";
  header += e.c_str();
  header += "\n...\n";
  return header;
}

// ---- ibus-table source ----------------------------------------------------

Result<ReadResult> ReadIbus(std::string_view bytes) {
  ReadResult out;
  const Missing missing = ReadLineTable(
      bytes, {LinuxFormat::kIbusSource, "BEGIN_TABLE", "END_TABLE", 14},
      // ibus-table-createdb takes only lines starting ### for comments.
      [](std::string_view line) { return line.starts_with("###"); },
      [](std::string_view line, uint32_t number, ReadResult& read) {
        const size_t tab1 = line.find('\t');
        const size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab1 == 0 || tab2 == std::string_view::npos || tab2 == tab1 + 1) {
          read.diagnostics.push_back(
              {number, Tr("not a \"code TAB phrase TAB frequency\" line: {1}", line)});
          return;
        }
        // ibus-table-createdb reads the first three fields and ignores the
        // rest; kept in the weight they would turn into columns of another
        // format.
        const size_t tab3 = line.find('\t', tab2 + 1);
        if (tab3 != std::string_view::npos) {
          read.diagnostics.push_back({number, Tr("more than three fields; the rest is left out, as "
                                                 "ibus-table-createdb does: {1}",
                                                 line)});
        }
        LinuxRow row;
        row.code.assign(line.substr(0, tab1));
        row.entry.assign(line.substr(tab1 + 1, tab2 - tab1 - 1));
        row.weight.assign(
            line.substr(tab2 + 1, tab3 == std::string_view::npos ? tab3 : tab3 - tab2 - 1));
        row.line = number;
        read.table.rows.push_back(std::move(row));
      },
      out);
  if (missing == Missing::kHeaderEnd) {
    return Status::Corrupt("ibus-table source", Tr("no BEGIN_TABLE line"));
  }
  if (missing == Missing::kBodyEnd) {
    return Status::Corrupt("ibus-table source", Tr("no END_TABLE line"));
  }
  return out;
}

std::string WriteIbus(const LinuxTable& table) {
  return WriteLineTable(table, 16, "END_TABLE\n", [](const LinuxRow& row, std::string& out) {
    out += row.code;
    out += '\t';
    out += row.entry;
    out += '\t';
    out += row.weight.empty() ? std::string_view("0") : std::string_view(row.weight);
  });
}

HeaderSettings IbusSettings(std::string_view header) {
  HeaderSettings s;
  LineCutter lines(header);
  std::string_view line;
  while (lines.Next(line)) {
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;
    auto kv = Setting(line);
    if (!kv) continue;
    if (EqualsNoCase(kv->first, "NAME")) {
      s.name = kv->second;
    } else if (EqualsNoCase(kv->first, "VALID_INPUT_CHARS")) {
      s.keys = kv->second;
    } else if (EqualsNoCase(kv->first, "MAX_KEY_LENGTH")) {
      s.maxCodeLength = ParseCount(kv->second);
    } else if (EqualsNoCase(kv->first, "RULES")) {
      // ce2:p11+p12+p21+p22;ca4:p11+p21+p31+p-11
      std::string_view rules = kv->second;
      while (!rules.empty()) {
        const size_t semi = rules.find(';');
        std::string_view rule = Trim(rules.substr(0, semi));
        rules = semi == std::string_view::npos ? std::string_view() : rules.substr(semi + 1);
        const size_t colon = rule.find(':');
        if (colon == std::string_view::npos || colon < 3 || rule[0] != 'c') continue;
        std::string expr;
        std::string_view terms = rule.substr(colon + 1);
        bool ok = true;
        while (!terms.empty() && ok) {
          const size_t plus = terms.find('+');
          std::string_view term = terms.substr(0, plus);
          terms = plus == std::string_view::npos ? std::string_view() : terms.substr(plus + 1);
          if (!expr.empty()) expr += '+';
          if (term.size() == 3 && term[0] == 'p') {
            expr += term;
          } else if (term.size() == 4 && term.starts_with("p-")) {
            expr += 'n';
            expr += term.substr(2);
          } else {
            ok = false;
          }
        }
        if (ok) s.rules.push_back(std::string(rule.substr(1, colon - 1)) + "=" + expr);
      }
    }
  }
  return s;
}

std::string IbusHeader(const HeaderSettings& s) {
  std::string rules;
  for (const std::string& rule : s.rules) {
    const size_t eq = rule.find('=');
    if (eq == std::string::npos) continue;
    if (!rules.empty()) rules += ';';
    rules += 'c' + rule.substr(0, eq) + ':';
    std::string_view expr = std::string_view(rule).substr(eq + 1);
    size_t pos = 0;
    while (pos <= expr.size()) {
      const size_t plus = expr.find('+', pos);
      std::string_view term = expr.substr(pos, plus == std::string_view::npos ? plus : plus - pos);
      if (pos) rules += '+';
      if (term.starts_with('n')) {
        rules += "p-";
        rules += term.substr(1);
      } else {
        rules += term;
      }
      if (plus == std::string_view::npos) break;
      pos = plus + 1;
    }
  }
  const std::string name = s.name.empty() ? "mirel" : s.name;
  std::string h = "### ibus-table source written by Mirel\nBEGIN_DEFINITION\n";
  h += "NAME = " + name + "\n";
  h += "SERIAL_NUMBER = 1\n";
  h += "LANGUAGES = zh_CN\n";
  h += "VALID_INPUT_CHARS = " +
       (s.keys.empty() ? std::string("abcdefghijklmnopqrstuvwxyz") : s.keys) + "\n";
  h += "MAX_KEY_LENGTH = " + std::to_string(s.maxCodeLength ? s.maxCodeLength : 4) + "\n";
  h += "LAYOUT = us\n";
  if (!rules.empty()) h += "RULES = " + rules + "\n";
  h += "END_DEFINITION\nBEGIN_TABLE\n";
  return h;
}

std::string FcitxHeader(const HeaderSettings& s) {
  std::string h;
  h += "KeyCode=" + (s.keys.empty() ? std::string("abcdefghijklmnopqrstuvwxyz") : s.keys) + "\n";
  h += "Length=" + std::to_string(s.maxCodeLength ? s.maxCodeLength : 4) + "\n";
  if (!s.rules.empty()) {
    h += "[Rule]\n";
    for (const std::string& rule : s.rules) h += rule + "\n";
  }
  h += "[Data]\n";
  return h;
}

// ---- ordering -------------------------------------------------------------

bool HasWeights(const LinuxTable& table) {
  if (table.format == LinuxFormat::kIbusSource || table.format == LinuxFormat::kIbusDatabase) {
    return true;
  }
  if (table.format != LinuxFormat::kRime) return false;
  Result<RimeColumns> c = RimeLayout(table.header);
  return c.IsOk() && c->byWeight && c->weight >= 0;
}

// The rows' positions in the order the input method offers them: each
// code's rows, by falling weight (ties in file order), in the places that
// code's rows take in the file.
std::vector<size_t> CandidateOrder(const LinuxTable& table) {
  std::vector<size_t> order(table.rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (!HasWeights(table)) return order;
  std::unordered_map<std::string_view, std::vector<size_t>> byCode;
  for (size_t i = 0; i < table.rows.size(); ++i) byCode[table.rows[i].code].push_back(i);
  for (auto& [code, places] : byCode) {
    if (places.size() < 2) continue;
    std::vector<size_t> sorted = places;
    std::stable_sort(sorted.begin(), sorted.end(), [&](size_t a, size_t b) {
      const std::optional<double> wa = WeightValue(table.rows[a].weight);
      const std::optional<double> wb = WeightValue(table.rows[b].weight);
      return wa && wb && *wa > *wb;
    });
    for (size_t k = 0; k < places.size(); ++k) order[places[k]] = sorted[k];
  }
  return order;
}

// Raises weights so that, within each code, none is below a later one.
void MendWeights(LinuxTable& table) {
  if (!HasWeights(table)) return;
  std::unordered_map<std::string_view, double> floor;  // the highest weight after, per code
  for (size_t i = table.rows.size(); i-- > 0;) {
    LinuxRow& row = table.rows[i];
    const std::optional<double> w = WeightValue(row.weight);
    if (!w) continue;
    auto [it, fresh] = floor.try_emplace(row.code, *w);
    if (fresh) {
      if (table.format == LinuxFormat::kIbusSource && row.weight.empty()) row.weight = "0";
      continue;
    }
    if (*w < it->second) {
      row.weight = WeightText(it->second);
    } else {
      it->second = *w;
      if (table.format == LinuxFormat::kIbusSource && row.weight.empty()) row.weight = "0";
    }
  }
}

// One code's rows in the order they are to be offered: their weights and
// their places in the file (ties go to the earlier place).
struct Chain {
  std::vector<double> value;
  std::vector<uint32_t> place;
  // Filled in: the new weight of each row that must change, and for a row
  // that must move to another line, the row whose line it is to follow.
  std::vector<std::optional<double>> fitted;
  std::vector<std::optional<size_t>> follow;
};

// Gives the fewest rows new weights so that weights fall along the chain.
// The rows that already fall in order (the longest such run) keep theirs;
// each other row gets a whole number between its neighbours, and where no
// whole number fits, the rows above it are raised with it. Among rows of
// one weight, which the file already orders by their lines (rows without a
// weight, most often), a row moves to the line it is to follow instead:
// raising every row above it would rewrite the whole code. New weights are
// not negative unless the code already uses negative ones.
void FitChain(Chain& c) {
  const size_t n = c.value.size();
  c.fitted.assign(n, std::nullopt);
  c.follow.assign(n, std::nullopt);
  // a offered before b.
  auto before = [&](size_t a, size_t b) {
    return c.value[a] > c.value[b] || (c.value[a] == c.value[b] && c.place[a] < c.place[b]);
  };
  bool sorted = true;
  for (size_t i = 1; i < n && sorted; ++i) sorted = before(i - 1, i);
  if (sorted) return;

  // The longest run in order, by patience sorting.
  std::vector<size_t> tails, back(n, SIZE_MAX);
  for (size_t i = 0; i < n; ++i) {
    auto at = std::lower_bound(tails.begin(), tails.end(), i,
                               [&](size_t a, size_t b) { return before(a, b); });
    if (at != tails.begin()) back[i] = *(at - 1);
    if (at == tails.end()) {
      tails.push_back(i);
    } else {
      *at = i;
    }
  }
  std::vector<bool> keep(n, false);
  double lowest = 0;
  for (size_t i = tails.back(); i != SIZE_MAX; i = back[i]) {
    keep[i] = true;
    lowest = std::min(lowest, c.value[i]);
  }

  // Bottom up: `run` gathers the rows (lowest first) still waiting for a
  // weight above `below`; the next kept row is their ceiling.
  std::vector<size_t> run;
  std::optional<double> below;  // none: the floor is `lowest`
  auto assign = [&](double lo, double count) {
    const double r = static_cast<double>(run.size());
    for (size_t j = 0; j < run.size(); ++j) {
      c.fitted[run[j]] = lo - 1 + std::floor((static_cast<double>(j) + 1) * (count + 1) / (r + 1));
    }
    run.clear();
  };
  // Strictly between: a tie would leave the order to the input method.
  auto floorOf = [&] { return below ? std::floor(*below) + 1 : lowest; };
  for (size_t i = n; i-- > 0;) {
    if (!keep[i]) {
      run.push_back(i);
      continue;
    }
    if (!run.empty()) {
      const double lo = floorOf(), hi = std::ceil(c.value[i]) - 1;
      if (hi - lo + 1 < static_cast<double>(run.size())) {
        // At the bottom only rows of that weight already: a row that had a
        // weight of its own is not made to tie with the row it passed.
        const bool tied = below ? *below == c.value[i]
                                : std::all_of(run.begin(), run.end(),
                                              [&](size_t j) { return c.value[j] == c.value[i]; });
        if (tied) {
          for (size_t j : run) {
            c.fitted[j] = c.value[i];
            c.follow[j] = i;
          }
          run.clear();
          continue;
        }
        run.push_back(i);  // no room: this row moves up with them
        continue;
      }
      assign(lo, hi - lo + 1);
    }
    below = c.value[i];
  }
  if (!run.empty()) assign(floorOf(), static_cast<double>(run.size()));
  for (size_t i = 0; i < n; ++i) {
    if (c.fitted[i] == c.value[i]) c.fitted[i].reset();
  }
}

}  // namespace

const std::array<LinuxFormatInfo, 5>& LinuxFormats() { return kFormats; }

const LinuxFormatInfo& InfoOf(LinuxFormat format) { return kFormats[static_cast<size_t>(format)]; }

std::optional<LinuxFormat> LinuxFormatFromCliName(std::string_view name) {
  for (const LinuxFormatInfo& info : kFormats) {
    if (EqualsNoCase(info.cliName, name)) return info.format;
  }
  return std::nullopt;
}

Result<HeaderSettings> ParseHeader(LinuxFormat format, std::string_view header) {
  switch (format) {
    case LinuxFormat::kFcitxText:
    case LinuxFormat::kFcitxBinary:
      return FcitxSettings(header);
    case LinuxFormat::kRime: {
      Result<HeaderSettings> s = RimeSettings(header);
      if (!s.IsOk()) return s;
      // The key set and length a conversion to Rime left in comments.
      LineCutter lines(header);
      std::string_view line;
      while (lines.Next(line)) {
        if (line.starts_with("# mirel-keys: ")) s->keys = line.substr(14);
        if (line.starts_with("# mirel-max-code-length: ")) {
          s->maxCodeLength = ParseCount(line.substr(25));
        }
      }
      return s;
    }
    case LinuxFormat::kIbusSource:
    case LinuxFormat::kIbusDatabase:
      return IbusSettings(header);
  }
  return HeaderSettings{};
}

std::string BuildHeader(LinuxFormat format, const HeaderSettings& settings,
                        std::vector<Diagnostic>& diagnostics) {
  switch (format) {
    case LinuxFormat::kFcitxText:
    case LinuxFormat::kFcitxBinary:
      return FcitxHeader(settings);
    case LinuxFormat::kRime:
      return RimeHeader(settings, diagnostics);
    case LinuxFormat::kIbusSource:
    case LinuxFormat::kIbusDatabase:
      return IbusHeader(settings);
  }
  return {};
}

Status ValidateHeader(LinuxFormat format, std::string_view header) {
  std::string probe(header);
  if (!probe.empty() && !probe.ends_with('\n')) probe += '\n';
  switch (format) {
    case LinuxFormat::kFcitxText:
    case LinuxFormat::kFcitxBinary: {
      Result<ReadResult> r = ReadFcitx(probe);
      if (!r.IsOk()) return r.status();
      if (!r->table.rows.empty()) {
        return Status::InvalidArgument("header", Tr("lines after [Data] belong to the table"));
      }
      const HeaderSettings s = FcitxSettings(probe);
      if (s.keys.empty()) return Status::InvalidArgument("header", Tr("KeyCode= is missing"));
      if (s.maxCodeLength == 0) return Status::InvalidArgument("header", Tr("Length= is missing"));
      return Status::Ok();
    }
    case LinuxFormat::kRime: {
      Result<ReadResult> r = ReadRimeDict(probe);
      if (!r.IsOk()) return r.status();
      if (!r->table.rows.empty()) {
        return Status::InvalidArgument("header", Tr("lines after \"...\" belong to the table"));
      }
      Result<HeaderSettings> s = RimeSettings(r->table.header);
      if (!s.IsOk()) return s.status();
      if (s->name.empty()) return Status::InvalidArgument("header", Tr("name: is missing"));
      return Status::Ok();
    }
    case LinuxFormat::kIbusSource:
    case LinuxFormat::kIbusDatabase: {
      Result<ReadResult> r = ReadIbus(probe + "END_TABLE\n");
      if (!r.IsOk()) return r.status();
      if (!r->table.rows.empty()) {
        return Status::InvalidArgument("header", Tr("lines after BEGIN_TABLE belong to the table"));
      }
      return Status::Ok();
    }
  }
  return Status::Ok();
}

Result<ReadResult> ReadFcitxText(std::string_view bytes) {
  try {
    return ReadFcitx(bytes);
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("fcitx5 table");
  }
}

Result<ReadResult> ReadRime(std::string_view bytes) {
  try {
    return ReadRimeDict(bytes);
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("Rime dictionary");
  } catch (const YAML::Exception& e) {
    return Status::Corrupt("Rime header", e.msg);
  }
}

Result<ReadResult> ReadIbusSource(std::string_view bytes) {
  try {
    return ReadIbus(bytes);
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("ibus-table source");
  }
}

std::string WriteFcitxText(const LinuxTable& table) { return WriteFcitx(table); }

std::optional<Diagnostic> FirstRowFcitxDrops(const LinuxTable& table) {
  const HeaderSettings s = FcitxSettings(table.header);
  const std::string markers = FcitxMarkers(table.header);
  std::unordered_set<std::pair<std::string_view, std::string_view>, PairHash> seen;
  seen.reserve(table.rows.size());
  for (const LinuxRow& row : table.rows) {
    const bool marked = !row.code.empty() && markers.find(row.code.front()) != std::string::npos;
    if (!marked && !s.keys.empty() && row.code.find_first_not_of(s.keys) != std::string::npos) {
      return Diagnostic{row.line, Tr("a key outside the key set \"{1}\": {2}", s.keys, row.code)};
    }
    if (!seen.insert({row.code, row.entry}).second) {
      return Diagnostic{row.line, Tr("the same code and entry again (fcitx5 keeps one): {1} {2}",
                                     row.code, row.entry)};
    }
  }
  return std::nullopt;
}
std::string WriteRime(const LinuxTable& table) { return WriteRimeDict(table); }
std::string WriteIbusSource(const LinuxTable& table) { return WriteIbus(table); }

std::optional<LinuxFormat> DetectLinuxFormat(std::string_view bytes) {
  if (bytes.starts_with("SQLite format 3")) return LinuxFormat::kIbusDatabase;
  // libime's binary dictionaries begin with this magic number.
  if (bytes.starts_with(std::string_view("\x00\x0f\xca\xbe", 4))) return LinuxFormat::kFcitxBinary;
  bytes = SkipBom(bytes).substr(0, 1 << 16);
  LineCutter lines(bytes);
  std::string_view line;
  bool fcitxKeys = false, yaml = false;
  while (lines.Next(line)) {
    const std::string_view t = Trim(line);
    if (t == "BEGIN_DEFINITION" || t == "BEGIN_TABLE") return LinuxFormat::kIbusSource;
    if (t.starts_with("KeyCode=")) fcitxKeys = true;
    if (t == "[Data]" && fcitxKeys) return LinuxFormat::kFcitxText;
    if (t == "---") yaml = true;
    if (yaml && IsDocumentEnd(line)) return LinuxFormat::kRime;
  }
  return std::nullopt;
}

namespace {

// libime reads Length= as an int and fails with nothing but "stoi" on what
// is not one, so the value is checked here, where the file can be named.
Status CheckFcitxLength(std::string_view header) {
  LineCutter lines(header);
  std::string_view line;
  while (lines.Next(line)) {
    auto kv = Setting(Trim(line));
    if (!kv || kv->first != "Length") continue;
    int value = 0;
    std::string_view text = kv->second;
    if (text.starts_with('+')) text.remove_prefix(1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end != text.data()) continue;
    return Status::InvalidArgument(
        "header", "Length=" + std::string(kv->second.substr(0, 40)) +
                      " is not a number of keys fcitx5 can read; give the longest code's "
                      "length, e.g. Length=4");
  }
  return Status::Ok();
}

}  // namespace

Result<std::string> LinuxTableBytes(const LinuxTable& table) {
  try {
    switch (table.format) {
      case LinuxFormat::kFcitxText:
        return WriteFcitx(table);
      case LinuxFormat::kFcitxBinary:
        if (Status length = CheckFcitxLength(table.header); !length.IsOk()) return length;
        return WriteFcitxBinary(table);
      case LinuxFormat::kRime:
        return WriteRimeDict(table);
      case LinuxFormat::kIbusSource:
        return WriteIbus(table);
      case LinuxFormat::kIbusDatabase:
        return Status::Unsupported("ibus-table database",
                                   Tr("installed databases are read only; write the source and "
                                      "build it with ibus-table-createdb"));
    }
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("writing the table");
  }
  return Status::Unsupported("table", Tr("unknown format"));
}

Result<ReadResult> ReadLinuxTable(FileSystem& fs, const std::filesystem::path& path,
                                  std::optional<LinuxFormat> format) {
  Result<std::string> bytes = fs.ReadWhole(path);
  if (!bytes.IsOk()) return bytes.status();
  if (!format) format = DetectLinuxFormat(bytes.value());
  if (!format) {
    return Status::Unsupported(path.string(),
                               Tr("not a table of fcitx5, Rime or ibus-table (no header found)"));
  }
  Result<ReadResult> read = Status::Unsupported(path.string(), Tr("unknown format"));
  switch (*format) {
    case LinuxFormat::kFcitxText:
      read = ReadFcitxText(bytes.value());
      break;
    case LinuxFormat::kFcitxBinary:
      read = ReadFcitxBinary(bytes.value());
      break;
    case LinuxFormat::kRime:
      read = ReadRime(bytes.value());
      break;
    case LinuxFormat::kIbusSource:
      read = ReadIbusSource(bytes.value());
      break;
    case LinuxFormat::kIbusDatabase:
      read = ReadIbusDatabase(bytes.value());
      break;
  }
  if (!read.IsOk())
    return Status(read.status().code() == Status::Code::kNoMemory
                      ? Status::NoMemory(path.string())
                      : Status::Corrupt(path.string(), read.status().message()));
  return read;
}

Status WriteLinuxTable(FileSystem& fs, const std::filesystem::path& path, const LinuxTable& table) {
  Result<std::string> bytes = LinuxTableBytes(table);
  if (!bytes.IsOk()) return bytes.status();
  return fs.WriteWhole(path, std::as_bytes(std::span(bytes->data(), bytes->size())));
}

LinuxTable ConvertTable(const LinuxTable& source, LinuxFormat target,
                        std::vector<Diagnostic>& diagnostics) {
  LinuxTable out;
  out.format = target == LinuxFormat::kIbusDatabase ? LinuxFormat::kIbusSource : target;
  Result<HeaderSettings> settings = ParseHeader(source.format, source.header);
  HeaderSettings s = settings.IsOk() ? settings.value() : HeaderSettings{};
  if (!settings.IsOk()) diagnostics.push_back({0, settings.status().message()});
  const bool toFcitx =
      out.format == LinuxFormat::kFcitxText || out.format == LinuxFormat::kFcitxBinary;
  // fcitx5 and ibus-table need a key set; a source without one (Rime keeps
  // it in the schema) gets the keys its codes use.
  if (s.keys.empty() && out.format != LinuxFormat::kRime) {
    std::string keys;
    uint32_t longest = 0;
    for (const LinuxRow& row : source.rows) {
      longest = std::max<uint32_t>(longest, CharacterCount(row.code));
      for (char c : row.code) {
        if (static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F &&
            keys.find(c) == std::string::npos) {
          keys += c;
        }
      }
    }
    std::sort(keys.begin(), keys.end());
    s.keys = keys;
    if (!s.maxCodeLength) s.maxCodeLength = longest;
  }
  // Within one input method the header goes over as it is.
  auto family = [](LinuxFormat f) {
    return f == LinuxFormat::kFcitxBinary    ? LinuxFormat::kFcitxText
           : f == LinuxFormat::kIbusDatabase ? LinuxFormat::kIbusSource
                                             : f;
  };
  const bool sameFamily = family(source.format) == family(out.format) && !source.header.empty();
  if (sameFamily) {
    out.header = source.header;
    out.footer = source.footer;
  } else {
    out.header = BuildHeader(out.format, s, diagnostics);
  }
  const std::string markers =
      source.format == LinuxFormat::kFcitxText || source.format == LinuxFormat::kFcitxBinary
          ? FcitxMarkers(source.header)
          : std::string();
  // libime takes the key set and code length from the header it reads,
  // which may hold the defaults when the source gave none: rows are checked
  // against those.
  if (toFcitx) {
    const HeaderSettings written = FcitxSettings(out.header);
    s.keys = written.keys;
    s.maxCodeLength = written.maxCodeLength;
  }
  const bool weighted = HasWeights(source) && HasWeights(out);
  // Within one input method rows keep their places and the comments between
  // them; otherwise they go over in candidate order.
  std::vector<size_t> order = CandidateOrder(source);
  if (sameFamily) {
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  }
  size_t kept = 0;
  std::unordered_set<std::pair<std::string_view, std::string_view>, PairHash> seen;
  if (toFcitx) seen.reserve(source.rows.size());
  out.rows.reserve(source.rows.size());
  for (size_t place : order) {
    while (sameFamily && kept < source.kept.size() && source.kept[kept].beforeRow <= place) {
      out.kept.push_back({out.rows.size(), source.kept[kept++].text});
    }
    const LinuxRow& row = source.rows[place];
    auto reject = [&](const std::string& why) {
      diagnostics.push_back({row.line, Tr("{1}: {2} {3}", why, row.code, row.entry)});
    };
    const bool marked = !markers.empty() && !row.code.empty() &&
                        markers.find(row.code.front()) != std::string::npos;
    if (marked && !sameFamily) {
      reject(
          Tr("a marked line of fcitx5 (prompt, phrase construction or pinyin) has no counterpart"));
      continue;
    }
    if (row.code.empty() && out.format != LinuxFormat::kRime) {
      reject(Tr("no code (Rime computes it; this format cannot)"));
      continue;
    }
    if (out.format != LinuxFormat::kRime && !marked) {
      if (row.code.find_first_of(" \t") != std::string::npos) {
        reject(Tr("the code holds a space"));
        continue;
      }
      if (!s.keys.empty() && row.code.find_first_not_of(s.keys) != std::string::npos) {
        reject(Tr("a key outside the key set \"{1}\"", s.keys));
        continue;
      }
      if (s.maxCodeLength && CharacterCount(row.code) > s.maxCodeLength) {
        reject(Tr("the code is longer than {1} keys", s.maxCodeLength));
        continue;
      }
    }
    if (row.entry.empty() || row.entry.find_first_of("\r\n") != std::string::npos) {
      reject(Tr("the entry is empty or holds a line break"));
      continue;
    }
    if (row.entry.find('\t') != std::string::npos && !toFcitx) {
      reject(Tr("the entry holds a TAB"));
      continue;
    }
    if (out.format == LinuxFormat::kRime && row.entry.front() == '#') {
      reject(Tr("an entry starting with # reads as a comment in Rime"));
      continue;
    }
    if (out.format == LinuxFormat::kIbusSource && row.code.starts_with("###")) {
      reject(Tr("a code starting with ### reads as a comment in ibus-table"));
      continue;
    }
    // libime keeps one row of each code and entry.
    if (toFcitx && !seen.insert({row.code, row.entry}).second) {
      reject(Tr("the same code and entry again (fcitx5 keeps one)"));
      continue;
    }
    LinuxRow copy;
    copy.code = row.code;
    copy.entry = row.entry;
    copy.line = row.line;
    if (weighted || sameFamily) copy.weight = row.weight;
    if (out.format == LinuxFormat::kRime) copy.stem = row.stem;
    out.rows.push_back(std::move(copy));
  }
  while (sameFamily && kept < source.kept.size()) {
    out.kept.push_back({out.rows.size(), source.kept[kept++].text});
  }
  // Rows in their old places keep their old weights; in candidate order the
  // weights must be made to agree with it.
  if (!sameFamily) MendWeights(out);
  return out;
}

void SetRimeName(LinuxTable& table, std::string_view name) {
  if (table.format != LinuxFormat::kRime || name.empty()) return;
  // The name: line at the top level of the YAML document, replaced in
  // place so that everything else in the header stays as written.
  std::string out;
  LineCutter lines(table.header);
  std::string_view line;
  bool inDocument = false, done = false;
  while (lines.Next(line)) {
    if (!inDocument && Trim(line) == "---") inDocument = true;
    if (!done && inDocument && line.starts_with("name:")) {
      out += "name: " + std::string(name) + "\n";
      done = true;
      continue;
    }
    if (!done && IsDocumentEnd(line)) {
      out += "name: " + std::string(name) + "\n";
      done = true;
    }
    out += line;
    out += '\n';
  }
  table.header = std::move(out);
}

std::string RimeNameOf(const std::filesystem::path& path) {
  const std::string file = path.filename().string();
  return file.ends_with(".dict.yaml") ? file.substr(0, file.size() - 10) : std::string();
}

std::u16string ToMirelText(const LinuxTable& table) {
  std::u16string text;
  text.reserve(table.rows.size() * 8);
  for (size_t place : CandidateOrder(table)) {
    const LinuxRow& row = table.rows[place];
    AppendUtf8(row.entry, text);
    text += u'\t';
    AppendUtf8(row.code, text);
    text += u"\r\n";
  }
  return text;
}

std::vector<MirelRow> SplitMirelText(std::u16string_view text) {
  std::vector<MirelRow> rows;
  size_t pos = 0;
  if (text.starts_with(u'\xFEFF')) pos = 1;
  std::u16string_view line;
  while (NextLine(text, pos, {.breaks = LineBreaks::kEach}, line)) {
    const size_t tab = line.find(u'\t');
    if (tab != std::u16string_view::npos)
      rows.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return rows;
}

namespace {

// A format without weights offers the rows in file order, so they are
// written as listed; the lines between rows follow the row they preceded.
LinuxTable RowsAsListed(const LinuxTable& original, const std::vector<MirelRow>& rows) {
  LinuxTable out;
  out.format = original.format;
  out.header = original.header;
  out.footer = original.footer;
  // Each original row, found by code and entry, lends its weight, stem and
  // the kept lines before it.
  std::map<std::pair<std::string, std::string>, std::vector<size_t>> byKey;
  for (size_t i = original.rows.size(); i-- > 0;) {
    byKey[{original.rows[i].code, original.rows[i].entry}].push_back(i);
  }
  std::vector<std::vector<const std::string*>> keptBefore(original.rows.size() + 1);
  for (const KeptLine& k : original.kept) {
    keptBefore[std::min(k.beforeRow, original.rows.size())].push_back(&k.text);
  }
  out.rows.reserve(rows.size());
  for (const MirelRow& r : rows) {
    LinuxRow row;
    // Messages about the rows name their place in the Mirel table.
    row.line = static_cast<uint32_t>(out.rows.size() + 1);
    row.code = Utf16ToUtf8(r.code);
    row.entry = Utf16ToUtf8(r.entry);
    auto found = byKey.find({row.code, row.entry});
    if (found != byKey.end() && !found->second.empty()) {
      const size_t from = found->second.back();
      found->second.pop_back();
      const LinuxRow& old = original.rows[from];
      row.weight = old.weight;
      row.stem = old.stem;
      for (const std::string* text : keptBefore[from]) out.kept.push_back({out.rows.size(), *text});
    }
    out.rows.push_back(std::move(row));
  }
  // Lines before rows that are gone, and those at the end, go to the end.
  for (auto& [key, left] : byKey) {
    for (size_t from : left) {
      for (const std::string* text : keptBefore[from]) out.kept.push_back({out.rows.size(), *text});
    }
  }
  for (const std::string* text : keptBefore[original.rows.size()]) {
    out.kept.push_back({out.rows.size(), *text});
  }
  std::stable_sort(out.kept.begin(), out.kept.end(),
                   [](const KeptLine& a, const KeptLine& b) { return a.beforeRow < b.beforeRow; });
  return out;
}

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

// A table whose weights give the order keeps its file as it is: each row
// stays on its line, a deleted row's line goes, an edited row takes the
// line of the row it replaced, a new row follows the last row of its code
// (or ends the table), and only the weights that disagree with the listed
// order change.
LinuxTable RowsOnTheirLines(const LinuxTable& original, const std::vector<MirelRow>& rows,
                            const std::vector<size_t>& order) {
  const size_t n = original.rows.size(), m = rows.size();
  std::vector<LinuxRow> listed(m);
  for (size_t i = 0; i < m; ++i) {
    listed[i].code = Utf16ToUtf8(rows[i].code);
    listed[i].entry = Utf16ToUtf8(rows[i].entry);
    // Messages about the rows name their place in the Mirel table.
    listed[i].line = static_cast<uint32_t>(i + 1);
  }

  // Equal rows pair up in the order they were offered.
  std::vector<uint32_t> rank(n), sameNext(n, kNone);
  std::unordered_map<std::pair<std::string_view, std::string_view>, uint32_t, PairHash> first;
  first.reserve(n);
  for (size_t r = n; r-- > 0;) {
    const uint32_t f = static_cast<uint32_t>(order[r]);
    rank[f] = static_cast<uint32_t>(r);
    auto [it, fresh] = first.try_emplace({original.rows[f].code, original.rows[f].entry}, f);
    if (!fresh) {
      sameNext[f] = it->second;
      it->second = f;
    }
  }
  std::vector<uint32_t> from(m, kNone);
  std::vector<bool> taken(n, false);
  size_t added = 0;
  for (size_t i = 0; i < m; ++i) {
    auto it = first.find({listed[i].code, listed[i].entry});
    if (it == first.end() || it->second == kNone) {
      ++added;
      continue;
    }
    from[i] = it->second;
    taken[it->second] = true;
    it->second = sameNext[it->second];
  }

  // Where each row goes: on line `slot` of the original, or after it.
  std::vector<uint32_t> onSlot(n, kNone), edited(m, kNone);
  std::vector<std::pair<uint32_t, uint32_t>> after;  // (original row, listed row)
  std::vector<uint32_t> atEnd;
  std::unordered_map<std::string_view, uint32_t> lastOfCode;
  if (added) {
    for (size_t f = 0; f < n; ++f) lastOfCode[original.rows[f].code] = static_cast<uint32_t>(f);
  }
  size_t expect = 0;  // the offered place after the last row found
  for (size_t i = 0; i < m; ++i) {
    if (from[i] != kNone) {
      onSlot[from[i]] = static_cast<uint32_t>(i);
      expect = rank[from[i]] + 1;
      continue;
    }
    // Listed where a row that is gone was offered: that row, edited. It
    // keeps the row's line and weight.
    if (expect < n && !taken[order[expect]]) {
      edited[i] = static_cast<uint32_t>(order[expect]);
      taken[order[expect]] = true;
      onSlot[order[expect++]] = static_cast<uint32_t>(i);
      continue;
    }
    auto last = lastOfCode.find(listed[i].code);
    if (last != lastOfCode.end()) {
      after.emplace_back(last->second, static_cast<uint32_t>(i));
    } else {
      atEnd.push_back(static_cast<uint32_t>(i));
    }
  }
  std::stable_sort(after.begin(), after.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  // The rows in file order, and the kept lines by the place they precede.
  std::vector<uint32_t> sequence;
  sequence.reserve(m);
  std::vector<KeptLine> kept;
  kept.reserve(original.kept.size());
  size_t k = 0, a = 0;
  for (size_t f = 0; f <= n; ++f) {
    if (f == n) sequence.insert(sequence.end(), atEnd.begin(), atEnd.end());
    for (; k < original.kept.size() && (original.kept[k].beforeRow <= f || f == n); ++k) {
      kept.push_back({sequence.size(), original.kept[k].text});
    }
    if (f == n) break;
    if (onSlot[f] != kNone) sequence.push_back(onSlot[f]);
    for (; a < after.size() && after[a].first == f; ++a) sequence.push_back(after[a].second);
  }

  // Weights as the rows will carry them; new rows have none.
  std::vector<const std::string*> weight(m, nullptr);
  for (size_t i = 0; i < m; ++i) {
    const uint32_t f = from[i] != kNone ? from[i] : edited[i];
    if (f != kNone) weight[i] = &original.rows[f].weight;
  }
  std::vector<std::optional<double>> value(m);
  std::unordered_map<std::string_view, uint32_t> groupOf;
  groupOf.reserve(n);
  std::vector<uint32_t> group(m);
  std::vector<bool> unweighable;  // a code with a weight that is not a number
  for (size_t i = 0; i < m; ++i) {
    value[i] = weight[i] ? WeightValue(*weight[i]) : std::optional<double>(0.0);
    auto [it, fresh] = groupOf.try_emplace(listed[i].code, static_cast<uint32_t>(groupOf.size()));
    if (fresh) unweighable.push_back(false);
    group[i] = it->second;
    if (!value[i]) unweighable[it->second] = true;
  }
  // The input method weighs a percentage against other tables, so its
  // place cannot be won by a weight: such a code's rows take the code's
  // lines in the listed order instead.
  if (std::find(unweighable.begin(), unweighable.end(), true) != unweighable.end()) {
    std::vector<std::vector<uint32_t>> places(groupOf.size());
    for (size_t p = 0; p < sequence.size(); ++p) {
      if (unweighable[group[sequence[p]]]) places[group[sequence[p]]].push_back(p);
    }
    for (std::vector<uint32_t>& at : places) {
      std::vector<uint32_t> rowsThere(at.size());
      for (size_t j = 0; j < at.size(); ++j) rowsThere[j] = sequence[at[j]];
      std::sort(rowsThere.begin(), rowsThere.end());
      for (size_t j = 0; j < at.size(); ++j) sequence[at[j]] = rowsThere[j];
    }
  }
  std::vector<uint32_t> place(m);
  for (size_t p = 0; p < sequence.size(); ++p) place[sequence[p]] = static_cast<uint32_t>(p);

  // Each code's weighable rows, in listed order.
  std::vector<uint32_t> start(groupOf.size() + 1, 0), members(m);
  for (size_t i = 0; i < m; ++i) ++start[group[i] + 1];
  for (size_t g = 0; g < groupOf.size(); ++g) start[g + 1] += start[g];
  {
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t i = 0; i < m; ++i) members[fill[group[i]]++] = static_cast<uint32_t>(i);
  }
  std::vector<std::optional<double>> fitted(m);
  std::vector<std::pair<uint32_t, uint32_t>> follow;  // (listed row, the row that follows it)
  Chain chain;
  std::vector<uint32_t> rowsOf;
  for (size_t g = 0; g < groupOf.size(); ++g) {
    if (start[g + 1] - start[g] < 2) continue;
    chain.value.clear();
    chain.place.clear();
    rowsOf.clear();
    for (uint32_t j = start[g]; j < start[g + 1]; ++j) {
      const uint32_t i = members[j];
      if (!value[i]) continue;
      rowsOf.push_back(i);
      chain.value.push_back(*value[i]);
      chain.place.push_back(place[i]);
    }
    FitChain(chain);
    for (size_t j = 0; j < rowsOf.size(); ++j) {
      fitted[rowsOf[j]] = chain.fitted[j];
      if (chain.follow[j]) follow.emplace_back(rowsOf[*chain.follow[j]], rowsOf[j]);
    }
  }
  if (!follow.empty()) {
    // Followers of one row go after it in the listed order.
    std::sort(follow.begin(), follow.end());
    std::vector<bool> moving(m, false);
    for (const auto& [target, row] : follow) moving[row] = true;
    std::vector<uint32_t> moved;
    moved.reserve(sequence.size());
    size_t keptAt = 0;
    for (size_t p = 0; p <= sequence.size(); ++p) {
      for (; keptAt < kept.size() && kept[keptAt].beforeRow == p; ++keptAt) {
        kept[keptAt].beforeRow = moved.size();
      }
      if (p == sequence.size()) break;
      const uint32_t i = sequence[p];
      if (moving[i]) continue;
      moved.push_back(i);
      auto it = std::lower_bound(follow.begin(), follow.end(), std::make_pair(i, uint32_t{0}));
      for (; it != follow.end() && it->first == i; ++it) moved.push_back(it->second);
    }
    sequence = std::move(moved);
  }

  LinuxTable out;
  out.format = original.format;
  out.header = original.header;
  out.footer = original.footer;
  out.kept = std::move(kept);
  out.rows.reserve(m);
  for (uint32_t i : sequence) {
    LinuxRow& row = listed[i];
    if (weight[i]) row.weight = *weight[i];
    if (from[i] != kNone) row.stem = original.rows[from[i]].stem;
    if (fitted[i]) row.weight = WeightText(*fitted[i]);
    out.rows.push_back(std::move(row));
  }
  return out;
}

}  // namespace

LinuxTable FromMirelRows(const LinuxTable& original, const std::vector<MirelRow>& rows) {
  // Unchanged rows in the same order give back the original, byte for byte.
  const std::vector<size_t> order = CandidateOrder(original);
  if (order.size() == rows.size()) {
    bool same = true;
    for (size_t i = 0; i < rows.size() && same; ++i) {
      const LinuxRow& row = original.rows[order[i]];
      same = Utf16ToUtf8(rows[i].code) == row.code && Utf16ToUtf8(rows[i].entry) == row.entry;
    }
    if (same) return original;
  }
  return HasWeights(original) ? RowsOnTheirLines(original, rows, order)
                              : RowsAsListed(original, rows);
}

}  // namespace mirel::linux_table
