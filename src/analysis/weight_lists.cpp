// Weight lists, the built-in sources, keyboards and key-pair times.
#include <bzlib.h>
#include <opencc/opencc.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <future>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <thread>
#include <unordered_map>

#include "analysis/text_index.h"
#include "analysis/typing_analysis.h"
#include "platform/lines.h"
#include "platform/messages.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel::analysis {

extern const unsigned char kKeyPairTimeData[];
extern const size_t kKeyPairTimeSize;

namespace {

constexpr size_t kBadLinesNamed = 10;
// Above this a sum of weights stops being exact in a double.
constexpr double kMaxWeight = 1e15;
// Unihan's readings file unpacks to about 7 MB; anything far larger is no
// such file.
constexpr size_t kMaxUnpackedBytes = size_t{256} << 20;

constexpr const char* kEssayPath = "/usr/share/rime-data/essay.txt";
constexpr const char* kJiebaPath = "/usr/lib/python3/dist-packages/jieba/dict.txt";
constexpr const char* kUnihanPath = "/usr/share/unicode/Unihan_Readings.txt.bz2";

bool IsBlank(char16_t u) { return u == u' ' || u == u'\t'; }

// A plain decimal weight; nothing else is guessed at.
std::optional<double> ParseWeight(std::u16string_view text) {
  if (text.empty() || text.size() > 40) return std::nullopt;
  std::string ascii;
  for (char16_t u : text) {
    if (!((u >= u'0' && u <= u'9') || u == u'.')) return std::nullopt;
    ascii += static_cast<char>(u);
  }
  double value = 0;
  auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (error != std::errc() || end != ascii.data() + ascii.size()) return std::nullopt;
  if (!std::isfinite(value) || value > kMaxWeight) return std::nullopt;
  return value;
}

// Sums repeats into the first place an entry was listed.
class ListBuilder {
 public:
  ListBuilder(WeightList& list, size_t expected) : list_(list), index_(expected) {
    list_.entries.reserve(expected);
  }

  void Add(std::u16string_view entry, double weight) {
    const auto [id, fresh] =
        index_.Insert(entry, static_cast<uint32_t>(list_.entries.size()),
                      [&](uint32_t k) -> std::u16string_view { return list_.entries[k].entry; });
    if (fresh) {
      list_.entries.push_back({std::u16string(entry), weight});
    } else {
      list_.entries[id].weight = std::min(list_.entries[id].weight + weight, kMaxWeight);
    }
  }

  void Bad(uint32_t line) {
    ++list_.badLines;
    if (list_.firstBadLines.size() < kBadLinesNamed) list_.firstBadLines.push_back(line);
  }

 private:
  WeightList& list_;
  TextIndex index_;
};

void ParseWeightText(std::u16string_view text, WeightList& list) {
  // A line of a list is rarely shorter than 8 units.
  ListBuilder builder(list, text.size() / 8 + 16);
  LineReader lines(text, {.breaks = LineBreaks::kEach});
  for (std::u16string_view line; lines.Next(line);) {
    const auto lineNumber = static_cast<uint32_t>(lines.number());
    if (lineNumber == 1 && !line.empty() && line.front() == u'\uFEFF') line.remove_prefix(1);
    if (line.empty() || line.front() == u'#') continue;
    std::u16string_view entry, weight;
    if (const size_t tab = line.find(u'\t'); tab != std::u16string_view::npos) {
      entry = line.substr(0, tab);
      weight = line.substr(tab + 1);
      weight = weight.substr(0, weight.find(u'\t'));
    } else {
      // word count [tag]
      const size_t space = line.find(u' ');
      if (space != std::u16string_view::npos) {
        entry = line.substr(0, space);
        weight = line.substr(space + 1);
        weight = weight.substr(0, weight.find(u' '));
      }
    }
    while (!weight.empty() && IsBlank(weight.back())) weight.remove_suffix(1);
    const std::optional<double> value = ParseWeight(weight);
    if (entry.empty() || !value) {
      builder.Bad(lineNumber);
      continue;
    }
    builder.Add(entry, *value);
  }
}

Result<std::string> Unpack(std::string_view packed, const std::string& where) {
  bz_stream stream{};
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return Status::NoMemory(where);
  std::unique_ptr<bz_stream, void (*)(bz_stream*)> guard(
      &stream, [](bz_stream* s) { BZ2_bzDecompressEnd(s); });
  std::string out;
  stream.next_in = const_cast<char*>(packed.data());
  stream.avail_in = static_cast<unsigned>(std::min<size_t>(packed.size(), UINT32_MAX));
  char buffer[1 << 16];
  for (;;) {
    stream.next_out = buffer;
    stream.avail_out = sizeof buffer;
    const int rc = BZ2_bzDecompress(&stream);
    out.append(buffer, sizeof buffer - stream.avail_out);
    if (out.size() > kMaxUnpackedBytes) return Status::Corrupt(where, Tr("unpacks to too much"));
    if (rc == BZ_STREAM_END) return out;
    if (rc != BZ_OK) return Status::Corrupt(where, Tr("damaged bzip2 data"));
    if (stream.avail_in == 0 && stream.avail_out != 0) {
      return Status::Corrupt(where, Tr("bzip2 data ends early"));
    }
  }
}

// kHanyuPinlu: "U+4E00 TAB kHanyuPinlu TAB yī(32747) yí(12)"; the readings'
// counts add up to the character's.
void ParseHanyuPinlu(std::string_view text, WeightList& list) {
  ListBuilder builder(list, 1 << 13);
  ByteLineReader lines(text, {.breaks = LineBreaks::kLf});
  for (std::string_view line; lines.Next(line);) {
    const auto lineNumber = static_cast<uint32_t>(lines.number());
    constexpr std::string_view kField = "\tkHanyuPinlu\t";
    const size_t field = line.find(kField);
    if (field == std::string_view::npos || !line.starts_with("U+")) continue;
    uint32_t code = 0;
    auto [cend, cerr] = std::from_chars(line.data() + 2, line.data() + field, code, 16);
    double sum = 0;
    bool good = cerr == std::errc() && cend == line.data() + field && code <= 0x10FFFF &&
                !(code >= 0xD800 && code <= 0xDFFF);
    std::string_view readings = line.substr(field + kField.size());
    for (size_t open = readings.find('('); good && open != std::string_view::npos;
         open = readings.find('(', open + 1)) {
      const size_t close = readings.find(')', open);
      if (close == std::string_view::npos) {
        good = false;
        break;
      }
      uint64_t count = 0;
      auto [nend, nerr] =
          std::from_chars(readings.data() + open + 1, readings.data() + close, count);
      good = nerr == std::errc() && nend == readings.data() + close;
      sum += static_cast<double>(count);
    }
    if (!good || sum > kMaxWeight) {
      builder.Bad(lineNumber);
      continue;
    }
    std::u16string entry;
    if (code >= 0x10000) {
      entry += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      entry += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      entry += static_cast<char16_t>(code);
    }
    builder.Add(entry, sum);
  }
}

}  // namespace

// The entries through OpenCC a line each (a converter keeps line breaks, so
// the lines come back in order), in as many pieces as there are cores: a
// line converts alone, so the pieces join to what one call would give.
Result<WeightList> SimplifyList(const WeightList& list, unsigned pieces) try {
  const std::string where = list.source;
  std::string joined;
  for (const WeightEntry& e : list.entries) {
    joined += Utf16ToUtf8(e.entry);
    joined += '\n';
  }
  if (pieces == 0) {
    // Small pieces keep OpenCC's working memory small.
    constexpr size_t kPieceBytes = size_t{1} << 16;
    pieces = static_cast<unsigned>(std::max<size_t>(1, joined.size() / kPieceBytes));
  }
  std::vector<size_t> bounds{0};
  for (size_t k = 1; k < pieces; ++k) {
    const size_t end = joined.find('\n', joined.size() * k / pieces);
    if (end == std::string::npos || end + 1 <= bounds.back()) continue;
    bounds.push_back(end + 1);
  }
  bounds.push_back(joined.size());
  // Each thread its own converter, taking the next piece until none is left.
  // A piece no converter reached (none could be opened) stays a failure.
  std::vector<Result<std::string>> texts(
      bounds.size() - 1,
      Status::Unsupported(where, Tr("OpenCC cannot open t2s.json (Debian libopencc-data)")));
  std::atomic<size_t> nextPiece{0};
  auto convert = [&] {
    // A thread without a converter leaves its pieces to the others.
    opencc_t converter = opencc_open("t2s.json");
    if (converter == reinterpret_cast<opencc_t>(-1)) return;
    std::unique_ptr<void, int (*)(opencc_t)> guard(converter, opencc_close);
    for (size_t piece; (piece = nextPiece++) < texts.size();) {
      char* converted = opencc_convert_utf8(converter, joined.data() + bounds[piece],
                                            bounds[piece + 1] - bounds[piece]);
      if (converted == nullptr) {
        texts[piece] = Status::Corrupt(where, Tr("OpenCC could not convert it"));
        continue;
      }
      std::unique_ptr<char, void (*)(char*)> text(converted, opencc_convert_utf8_free);
      texts[piece] = std::string(text.get());
    }
  };
  const size_t threads =
      std::min<size_t>(texts.size(), std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::future<void>> others;
  for (size_t k = 1; k < threads; ++k) others.push_back(std::async(std::launch::async, convert));
  convert();
  for (auto& other : others) other.get();
  std::string().swap(joined);
  WeightList out;
  out.source = list.source + " (simplified)";
  out.badLines = list.badLines;
  out.firstBadLines = list.firstBadLines;
  ListBuilder builder(out, list.entries.size());
  size_t piece = 0;
  std::string_view rest;
  std::u16string entry;
  for (const WeightEntry& e : list.entries) {
    while (rest.empty() && piece < texts.size()) {
      if (!texts[piece].IsOk()) return texts[piece].status();
      rest = texts[piece++].value();
    }
    const size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
      return Status::Corrupt(where, Tr("OpenCC returned fewer lines than it was given"));
    }
    entry.clear();
    AppendUtf8(rest.substr(0, end), entry);
    builder.Add(entry, e.weight);
    rest.remove_prefix(end + 1);
  }
  return out;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(list.source);
}

namespace {

constexpr const char* kConverterFolder = "/usr/share/opencc";
constexpr const char* kConverterFiles[] = {"t2s.json", "TSPhrases.ocd2", "TSCharacters.ocd2"};
constexpr const char* kCacheName = "essay-simplified.txt";
constexpr std::string_view kCacheHead = "# mirel simplified list 1 ";

// FNV-1a over what the cached list was made from: the list itself and the
// converter's data. A different list or converter makes another key.
class Fingerprint {
 public:
  void Add(std::string_view bytes) {
    for (unsigned char c : bytes) hash_ = (hash_ ^ c) * 0x100000001B3ull;
    Add64(bytes.size());
  }
  void Add64(uint64_t v) {
    for (int k = 0; k < 8; ++k) hash_ = (hash_ ^ ((v >> (8 * k)) & 0xFF)) * 0x100000001B3ull;
  }
  uint64_t value() const { return hash_; }

 private:
  uint64_t hash_ = 0xCBF29CE484222325ull;
};

std::string CacheKey(FileSystem& fs, const WeightList& list) {
  Fingerprint f;
  for (const WeightEntry& e : list.entries) {
    f.Add({reinterpret_cast<const char*>(e.entry.data()), e.entry.size() * 2});
    f.Add64(std::bit_cast<uint64_t>(e.weight));
  }
  for (const char* name : kConverterFiles) {
    Result<std::string> bytes = ReadFileBytes(fs, std::filesystem::path(kConverterFolder) / name);
    f.Add(bytes.IsOk() ? bytes.value() : std::string("missing"));
  }
  char key[64];
  std::snprintf(key, sizeof key, "%016llx %zu", static_cast<unsigned long long>(f.value()),
                list.entries.size());
  return key;
}

std::string BodyKey(const Fingerprint& body) {
  char key[24];
  std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(body.value()));
  return key;
}

// The cached list when its head names `key` and the body it was written with.
std::optional<WeightList> ReadCache(FileSystem& fs, const std::filesystem::path& path,
                                    const std::string& key, const WeightList& from) {
  Result<std::string> bytes = ReadFileBytes(fs, path);
  if (!bytes.IsOk()) return std::nullopt;
  std::string_view rest = bytes.value();
  const std::string head = std::string(kCacheHead) + key + " ";
  if (!rest.starts_with(head)) return std::nullopt;
  rest.remove_prefix(head.size());
  // The body's own fingerprint ends the head: an edited line is noticed.
  const size_t headEnd = rest.find('\n');
  if (headEnd == std::string_view::npos) return std::nullopt;
  Fingerprint body;
  body.Add(rest.substr(headEnd + 1));
  if (rest.substr(0, headEnd) != BodyKey(body)) return std::nullopt;
  rest.remove_prefix(headEnd + 1);
  WeightList out;
  out.source = from.source + " (simplified)";
  out.badLines = from.badLines;
  out.firstBadLines = from.firstBadLines;
  ListBuilder builder(out, from.entries.size());
  std::u16string entry;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const size_t tab = rest.find('\t');
    if (end == std::string_view::npos || tab >= end || tab == 0) return std::nullopt;
    const std::string_view number = rest.substr(tab + 1, end - tab - 1);
    double weight = 0;
    auto [stop, error] = std::from_chars(number.data(), number.data() + number.size(), weight);
    if (error != std::errc() || stop != number.data() + number.size() || !(weight >= 0) ||
        weight > kMaxWeight) {
      return std::nullopt;
    }
    entry.clear();
    if (AppendUtf8(rest.substr(0, tab), entry) != 0) return std::nullopt;
    builder.Add(entry, weight);
    rest.remove_prefix(end + 1);
  }
  return out;
}

void WriteCache(FileSystem& fs, const std::filesystem::path& folder, const std::string& key,
                const WeightList& list) {
  std::string text;
  for (const WeightEntry& e : list.entries) {
    // Such an entry would not read back as it is: no cache then.
    if (e.entry.find_first_of(u"\t\n") != std::u16string::npos) return;
    char number[32];
    auto [end, error] = std::to_chars(number, number + sizeof number, e.weight);
    if (error != std::errc()) return;
    text += Utf16ToUtf8(e.entry);
    text += '\t';
    text.append(number, end);
    text += '\n';
  }
  Fingerprint body;
  body.Add(text);
  text.insert(0, std::string(kCacheHead) + key + " " + BodyKey(body) + "\n");
  if (!fs.CreateFolders(folder).IsOk()) return;
  Result<std::unique_ptr<OutputFile>> file = fs.ReplaceFile(folder / kCacheName);
  if (!file.IsOk()) return;
  if (file.value()->Append(std::as_bytes(std::span(text))).IsOk()) (void)file.value()->Commit();
}

}  // namespace

Result<WeightList> SimplifyListCached(FileSystem& fs, const WeightList& list,
                                      const std::filesystem::path& cacheFolder) try {
  if (cacheFolder.empty()) return SimplifyList(list);
  const std::string key = CacheKey(fs, list);
  if (std::optional<WeightList> cached = ReadCache(fs, cacheFolder / kCacheName, key, list)) {
    return std::move(*cached);
  }
  Result<WeightList> simplified = SimplifyList(list);
  if (simplified.IsOk()) WriteCache(fs, cacheFolder, key, simplified.value());
  return simplified;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(list.source);
}

namespace {

// The weight of the list's entries that some row holds; a row repeated
// counts once.
double CoveredWeight(const WeightList& list, const std::vector<TableRow>& table) {
  TextIndex index(list.entries.size());
  auto entryText = [&](uint32_t k) -> std::u16string_view { return list.entries[k].entry; };
  for (uint32_t k = 0; k < list.entries.size(); ++k)
    index.Insert(list.entries[k].entry, k, entryText);
  std::vector<bool> held(list.entries.size());
  for (const TableRow& row : table) {
    if (std::optional<uint32_t> k = index.Find(row.entry(), entryText)) held[*k] = true;
  }
  double sum = 0;
  for (size_t k = 0; k < list.entries.size(); ++k) {
    if (held[k]) sum += list.entries[k].weight;
  }
  return sum;
}

}  // namespace

WeightList PickScript(WeightList traditional, WeightList simplified,
                      const std::vector<TableRow>& table) {
  std::future<double> simplifiedWeight =
      std::async(table.size() >= (1 << 16) ? std::launch::async : std::launch::deferred,
                 [&] { return CoveredWeight(simplified, table); });
  const double traditionalWeight = CoveredWeight(traditional, table);
  if (simplifiedWeight.get() > traditionalWeight) return simplified;
  traditional.source += " (traditional)";
  return traditional;
}

Result<WeightList> ReadWeightList(FileSystem& fs, const std::filesystem::path& path) try {
  Result<TextBuffer> text = ReadTextFile(fs, path);
  if (!text.IsOk()) return text.status();
  WeightList list;
  list.source = path.string();
  ParseWeightText(text->text, list);
  if (list.entries.empty()) {
    return Status::Corrupt(path.string(), Tr("no line holds an entry and its weight"));
  }
  return list;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(path.string());
}

Result<WeightList> LoadBuiltInSource(FileSystem& fs, std::string_view name, Script script,
                                     const std::vector<TableRow>& tableEntries,
                                     const std::filesystem::path& cacheFolder) try {
  if (name == "essay") {
    Result<WeightList> list = ReadWeightList(fs, kEssayPath);
    if (!list.IsOk()) return list.status();
    list->source = "essay";
    if (script == Script::kTraditional) return list;
    Result<WeightList> simplified = SimplifyListCached(fs, list.value(), cacheFolder);
    if (!simplified.IsOk() || script == Script::kSimplified) return simplified;
    return PickScript(std::move(list).value(), std::move(simplified).value(), tableEntries);
  }
  if (name == "jieba") {
    Result<WeightList> list = ReadWeightList(fs, kJiebaPath);
    if (list.IsOk()) list->source = "jieba";
    return list;
  }
  if (name == "pinlu") {
    Result<std::string> packed = ReadFileBytes(fs, kUnihanPath);
    if (!packed.IsOk()) return packed.status();
    Result<std::string> text = Unpack(packed.value(), kUnihanPath);
    if (!text.IsOk()) return text.status();
    WeightList list;
    list.source = "pinlu";
    ParseHanyuPinlu(text.value(), list);
    if (list.entries.empty()) return Status::Corrupt(kUnihanPath, Tr("no kHanyuPinlu counts"));
    return list;
  }
  return Status::InvalidArgument(std::string(name), Tr("no such source (essay, jieba, pinlu)"));
} catch (const std::bad_alloc&) {
  return Status::NoMemory(std::string(name));
}

// ---- Keyboard ------------------------------------------------------------

Keyboard Keyboard::Standard() {
  Keyboard k;
  k.finger.fill(-1);
  const char* const fingers[8] = {"1qaz",     "2wsx", "3edc", "4rfv5tgb",
                                  "6yhn7ujm", "8ik,", "9ol.", "0p;/-['=]"};
  for (int f = 0; f < 8; ++f) {
    for (const char* key = fingers[f]; *key; ++key) k.finger[static_cast<unsigned char>(*key)] = f;
  }
  return k;
}

namespace {

// Lines of "first TAB second", comments (#) and blank lines skipped; visit
// returns an empty string or what is wrong with the line.
template <class Visit>
Status ForEachFieldLine(std::string_view bytes, Visit visit) {
  ByteLineReader lines(bytes, {.breaks = LineBreaks::kLf});
  for (std::string_view line; lines.Next(line);) {
    const auto lineNumber = static_cast<uint32_t>(lines.number());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (lineNumber == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    if (line.empty() || line.front() == '#') continue;
    const size_t tab = line.find('\t');
    std::string problem = tab == std::string_view::npos
                              ? Tr("no TAB")
                              : visit(line.substr(0, tab), line.substr(tab + 1));
    if (!problem.empty()) {
      return Status::Corrupt("", Tr("line {1}: {2}", lineNumber, problem));
    }
  }
  return Status::Ok();
}

bool IsKey(char c) { return c >= 0x20 && c < 0x7F; }

}  // namespace

Result<Keyboard> Keyboard::Read(std::string_view bytes) {
  Keyboard k;
  k.finger.fill(-1);
  int keys = 0;
  Status read = ForEachFieldLine(bytes, [&](std::string_view key, std::string_view value) {
    if (key.size() != 1 || !IsKey(key[0]) || key[0] == ' ') {
      return Tr("a key is one printable ASCII character other than space");
    }
    if (value.size() != 1 || value[0] < '0' || value[0] > '7') return Tr("a finger is 0 to 7");
    int8_t& f = k.finger[static_cast<unsigned char>(key[0])];
    if (f >= 0) return Tr("the key is given a finger twice");
    f = static_cast<int8_t>(value[0] - '0');
    ++keys;
    return std::string();
  });
  if (!read.IsOk()) return read;
  if (keys == 0) return Status::Corrupt("", Tr("no key is given a finger"));
  return k;
}

// ---- Pair times -----------------------------------------------------------

Result<PairTimes> PairTimes::Read(std::string_view bytes) {
  PairTimes times;
  Status read = ForEachFieldLine(bytes, [&](std::string_view pair, std::string_view value) {
    if (pair.size() != 2 || !IsKey(pair[0]) || !IsKey(pair[1])) return Tr("a pair is two keys");
    double t = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), t);
    if (error != std::errc() || end != value.data() + value.size() || !std::isfinite(t) || t <= 0 ||
        t > 100) {
      return Tr("a time is a number above 0, at most 100");
    }
    times.pairs.push_back({std::u16string{char16_t(pair[0]), char16_t(pair[1])}, t});
    return std::string();
  });
  if (!read.IsOk()) return read;
  std::stable_sort(times.pairs.begin(), times.pairs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t k = 1; k < times.pairs.size(); ++k) {
    if (times.pairs[k].first == times.pairs[k - 1].first) {
      return Status::Corrupt("",
                             Tr("the pair {1} is listed twice", Utf16ToUtf8(times.pairs[k].first)));
    }
  }
  return times;
}

const PairTimes& PairTimes::Shipped() {
  // Parsed once; the shipped bytes are checked by the tests.
  static const PairTimes shipped = [] {
    Result<PairTimes> read =
        Read(std::string_view(reinterpret_cast<const char*>(kKeyPairTimeData), kKeyPairTimeSize));
    return read.IsOk() ? std::move(read).value() : PairTimes{};
  }();
  return shipped;
}

std::optional<double> PairTimes::Find(char16_t first, char16_t second) const {
  const char16_t key[2] = {first, second};
  const std::u16string_view wanted(key, 2);
  auto it = std::lower_bound(pairs.begin(), pairs.end(), wanted,
                             [](const auto& p, std::u16string_view k) { return p.first < k; });
  if (it == pairs.end() || it->first != wanted) return std::nullopt;
  return it->second;
}

}  // namespace mirel::analysis
