// The pictures of the typing analysis: the keyboard heat map (SVG 1.1) and
// the report page (HTML). Entries and source names come from tables and
// lists anyone may hand us, so every piece of text is escaped; numbers are
// formatted without the locale, so that one analysis always gives the same
// bytes.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

#include "analysis/typing_analysis.h"
#include "platform/utf16.h"

namespace mirel::analysis {
namespace {

constexpr std::string_view kFonts =
    "'Noto Sans CJK SC', 'Source Han Sans SC', 'WenQuanYi Micro Hei', 'Microsoft YaHei', "
    "'PingFang SC', sans-serif";

constexpr std::array<std::string_view, 8> kFingerNames = {
    "左小指", "左无名指", "左中指", "左食指", "右食指", "右中指", "右无名指", "右小指"};

// ---- Text ---------------------------------------------------------------

// Good in XML and HTML content and attribute values alike. Controls would
// make the SVG unreadable to an XML parser and hide in a page: they show as
// their control pictures. What XML cannot hold at all becomes U+FFFD.
void AppendEscaped(std::string& out, std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (IsSurrogate(text[i])) {
      if (!IsLowSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else {
        c = 0xFFFD;
      }
    }
    switch (c) {
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      case '&':
        out += "&amp;";
        continue;
      case '"':
        out += "&quot;";
        continue;
      case '\'':
        out += "&#39;";
        continue;
      default:
        break;
    }
    if (c < 0x20) {
      c += 0x2400;
    } else if (c == 0x7F) {
      c = 0x2421;
    } else if ((c >= 0x80 && c < 0xA0) || c == 0xFFFE || c == 0xFFFF) {
      c = 0xFFFD;
    }
    AppendCodePointUtf8(out, c);
  }
}

std::string Escaped(std::u16string_view text) {
  std::string out;
  AppendEscaped(out, text);
  return out;
}

// Source names are bytes from a command line or a path; what is not UTF-8
// becomes U+FFFD on the way.
std::string Escaped(std::string_view utf8) { return Escaped(Utf8ToUtf16(utf8)); }

// At most `limit` characters, the rest replaced by an ellipsis: a long path
// would run off the picture.
std::u16string Shortened(std::u16string_view text, size_t limit) {
  size_t units = 0;
  for (size_t chars = 0; units < text.size(); ++chars) {
    if (chars == limit) return std::u16string(text.substr(0, units)) + u"…";
    units += (units + 1 < text.size() && !IsLowSurrogate(text[units]) && IsSurrogate(text[units]) &&
              IsLowSurrogate(text[units + 1]))
                 ? 2
                 : 1;
  }
  return std::u16string(text);
}

// ---- Numbers --------------------------------------------------------------

constexpr std::string_view kNoValue = "—";

// Fixed decimals in the C locale; no "-0.00".
std::string Fixed(double v, int decimals) {
  if (!std::isfinite(v)) return std::string(kNoValue);
  char buffer[400];  // the longest double in fixed notation, with decimals
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return std::string(kNoValue);
  std::string s(buffer, end);
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string WithSign(std::string s) {
  if (s[0] != '-' && s != kNoValue && s.find_first_not_of("0.") != std::string::npos) s = "+" + s;
  return s;
}

std::string Signed(double v, int decimals) { return WithSign(Fixed(v, decimals)); }

std::string Percent(double share, int decimals) {
  return std::isfinite(share) ? Fixed(share * 100, decimals) + "%" : std::string(kNoValue);
}

// "2.5%", "10%": a scale's marks without trailing zeros.
std::string ShortPercent(double share) {
  std::string s = Fixed(share * 100, 2);
  if (s.find('.') != std::string::npos) {
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
  }
  return s + "%";
}

// Counts as whole numbers, other weights in the shortest form that reads
// back the same.
std::string Weight(double w) {
  if (!std::isfinite(w)) return std::string(kNoValue);
  if (w == std::floor(w) && std::fabs(w) < 1e15) return Fixed(w, 0);
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, w);
  return ec == std::errc() ? std::string(buffer, end) : std::string(kNoValue);
}

std::string Count(uint64_t n) {
  char buffer[24];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, n).ptr);
}

// Drawing coordinates: one decimal is finer than a pixel.
std::string Px(double v) { return Fixed(v, 1); }

// A share fit to draw: a missing or hostile value draws as nothing.
double Drawn(double share) { return std::isfinite(share) && share > 0 ? std::min(share, 1.0) : 0; }

// The top of a scale: the smallest 1, 2, 2.5 or 5 × 10^k that holds `m`.
double ScaleTop(double m) {
  m = std::clamp(m, 1e-4, 1.0);
  const double base = std::pow(10.0, std::floor(std::log10(m)));
  for (double f : {1.0, 2.0, 2.5, 5.0}) {
    if (f * base >= m * (1 - 1e-9)) return f * base;
  }
  return 10 * base;
}

// ---- Colour ---------------------------------------------------------------

struct Rgb {
  double r, g, b;
};

// Yellow through orange to dark red: lightness falls steadily, so a darker
// key is always a busier one, in grey print too.
constexpr std::array<Rgb, 9> kRamp = {{{255, 255, 204},
                                       {255, 237, 160},
                                       {254, 217, 118},
                                       {254, 178, 76},
                                       {253, 141, 60},
                                       {252, 78, 42},
                                       {227, 26, 28},
                                       {189, 0, 38},
                                       {128, 0, 38}}};
constexpr std::string_view kUnusedFill = "#e8e8e8";

Rgb RampColour(double t) {
  t = std::clamp(t, 0.0, 1.0) * (kRamp.size() - 1);
  const size_t i = std::min(static_cast<size_t>(t), kRamp.size() - 2);
  const double f = t - static_cast<double>(i);
  const Rgb& a = kRamp[i];
  const Rgb& b = kRamp[i + 1];
  return {a.r + (b.r - a.r) * f, a.g + (b.g - a.g) * f, a.b + (b.b - a.b) * f};
}

std::string Hex(const Rgb& c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s = "#";
  for (double v : {c.r, c.g, c.b}) {
    const int n = static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0)));
    s += kDigits[n >> 4];
    s += kDigits[n & 15];
  }
  return s;
}

// Dark text on the light end of the ramp, white on the dark end.
std::string_view TextOn(const Rgb& c) {
  return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b > 140 ? "#222" : "#fff";
}

// ---- The heat map ---------------------------------------------------------

constexpr double kUnit = 60;  // one key and its gap
constexpr double kGap = 4;
constexpr double kMargin = 20;
constexpr double kKeyboardTop = 64;
constexpr double kWidth = 2 * kMargin + 14.5 * kUnit - kGap;
constexpr double kHeight = 630;

struct KeyRow {
  std::string_view keys;
  double offset;  // in units, where the row starts on a real keyboard
};
constexpr std::array<KeyRow, 4> kRows = {
    {{"`1234567890-=", 0}, {"qwertyuiop[]\\", 1.5}, {"asdfghjkl;'", 1.75}, {"zxcvbnm,./", 2.25}}};

void AppendText(std::string& out, double x, double y, double size, std::string_view anchor,
                std::string_view fill, std::string_view escapedText) {
  out += "<text x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" font-size=\"" + Px(size) + "\"";
  if (anchor != "start") out += " text-anchor=\"" + std::string(anchor) + "\"";
  out += " fill=\"" + std::string(fill) + "\">";
  out += escapedText;
  out += "</text>\n";
}

std::string KeyShare(double share) {
  if (share <= 0) return "0%";
  if (share < 0.0005) return "&lt;0.1%";
  return Percent(share, 1);
}

void AppendKey(std::string& out, double x, double y, double width, char key, double share,
               double top) {
  const bool used = share > 0;
  const Rgb colour = RampColour(share / top);
  const std::string fill = used ? Hex(colour) : std::string(kUnusedFill);
  const std::string_view ink = used ? TextOn(colour) : "#888";
  const char16_t printed = key >= 'a' && key <= 'z' ? static_cast<char16_t>(key - 'a' + 'A') : key;
  const std::string label = key == ' ' ? "空格" : Escaped(std::u16string(1, printed));
  out += "<g class=\"key\"><title>" + label + " " + KeyShare(share) + "</title>\n";
  out += "<rect x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" width=\"" + Px(width) + "\" height=\"" +
         Px(kUnit - kGap) + "\" rx=\"6\" fill=\"" + fill +
         "\" stroke=\"#999\" stroke-width=\"1\"/>\n";
  AppendText(out, x + 6, y + 15, 11, "start", ink, label);
  AppendText(out, x + width / 2, y + 41, 14, "middle", ink, KeyShare(share));
  out += "</g>\n";
}

// The <svg> element alone, as a page inlines it.
std::string SvgElement(const Analysis& analysis) {
  std::array<bool, 128> drawn{};
  double busiest = 0;
  for (const KeyRow& row : kRows) {
    for (char key : row.keys) {
      drawn[static_cast<unsigned char>(key)] = true;
      busiest = std::max(busiest, Drawn(analysis.keyUse[static_cast<unsigned char>(key)]));
    }
  }
  drawn[' '] = true;
  busiest = std::max(busiest, Drawn(analysis.keyUse[' ']));
  double elsewhere = 0;  // keys of codes that are not on the picture
  for (size_t k = 0; k < analysis.keyUse.size(); ++k) {
    if (!drawn[k]) elsewhere += Drawn(analysis.keyUse[k]);
  }
  const double top = ScaleTop(busiest);

  std::string out;
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" class=\"heatmap\" width=\"" +
         Px(kWidth) + "\" height=\"" + Px(kHeight) + "\" viewBox=\"0 0 " + Px(kWidth) + " " +
         Px(kHeight) + "\" font-family=\"" + std::string(kFonts) + "\">\n";
  out += "<title>键位热图</title>\n";
  out += "<rect x=\"0\" y=\"0\" width=\"" + Px(kWidth) + "\" height=\"" + Px(kHeight) +
         "\" fill=\"#fff\"/>\n";
  AppendText(out, kMargin, 30, 18, "start", "#222", "键位热图");
  AppendText(out, kMargin, 50, 12, "start", "#555",
             "来源：" + Escaped(Shortened(Utf8ToUtf16(analysis.source), 80)));

  for (size_t r = 0; r < kRows.size(); ++r) {
    const double y = kKeyboardTop + static_cast<double>(r) * kUnit;
    for (size_t i = 0; i < kRows[r].keys.size(); ++i) {
      const char key = kRows[r].keys[i];
      const double x = kMargin + (kRows[r].offset + static_cast<double>(i)) * kUnit;
      AppendKey(out, x, y, kUnit - kGap, key,
                Drawn(analysis.keyUse[static_cast<unsigned char>(key)]), top);
    }
  }
  AppendKey(out, kMargin + 3.75 * kUnit, kKeyboardTop + 4 * kUnit, 6.25 * kUnit - kGap, ' ',
            Drawn(analysis.keyUse[' ']), top);

  // The legend: the ramp in steps, marked at its ends and middle.
  const double legendY = kKeyboardTop + 5 * kUnit + 16;
  constexpr int kSteps = 12;
  constexpr double kStep = 24;
  const double rampX = kMargin + 150;
  AppendText(out, kMargin, legendY + 12, 12, "start", "#222", "按键使用（占编码击键）");
  for (int i = 0; i < kSteps; ++i) {
    const double t = (i + 0.5) / kSteps;
    out += "<rect x=\"" + Px(rampX + i * kStep) + "\" y=\"" + Px(legendY) + "\" width=\"" +
           Px(kStep) + "\" height=\"14\" fill=\"" + Hex(RampColour(t)) + "\"/>\n";
  }
  out += "<rect x=\"" + Px(rampX) + "\" y=\"" + Px(legendY) + "\" width=\"" + Px(kSteps * kStep) +
         "\" height=\"14\" fill=\"none\" stroke=\"#999\" stroke-width=\"1\"/>\n";
  AppendText(out, rampX, legendY + 30, 11, "start", "#222", "0%");
  AppendText(out, rampX + kSteps * kStep / 2, legendY + 30, 11, "middle", "#222",
             ShortPercent(top / 2));
  AppendText(out, rampX + kSteps * kStep, legendY + 30, 11, "end", "#222", ShortPercent(top));
  const double unusedX = rampX + kSteps * kStep + 30;
  out += "<rect x=\"" + Px(unusedX) + "\" y=\"" + Px(legendY) + "\" width=\"" + Px(kStep) +
         "\" height=\"14\" fill=\"" + std::string(kUnusedFill) +
         "\" stroke=\"#999\" stroke-width=\"1\"/>\n";
  AppendText(out, unusedX + kStep + 6, legendY + 12, 12, "start", "#222", "未用");
  if (elsewhere > 0) {
    AppendText(out, unusedX + kStep + 60, legendY + 12, 12, "start", "#222",
               "图外的键：" + Percent(elsewhere, 1));
  }

  // Finger loads: eight bars on one scale, left little finger first.
  double left = 0, right = 0, heaviest = 0;
  for (size_t f = 0; f < kFingerNames.size(); ++f) {
    const double load = Drawn(analysis.fingerLoad[f]);
    (f < 4 ? left : right) += load;
    heaviest = std::max(heaviest, load);
  }
  const double fingersY = legendY + 64;
  AppendText(out, kMargin, fingersY, 14, "start", "#222",
             "手指负荷（左手 " + Percent(left, 1) + " · 右手 " + Percent(right, 1) + "）");
  const double fingerTop = ScaleTop(heaviest);
  const double baseY = fingersY + 140;
  constexpr double kBarHeight = 100;
  const double slot = (kWidth - 2 * kMargin) / kFingerNames.size();
  out += "<line x1=\"" + Px(kMargin) + "\" y1=\"" + Px(baseY) + "\" x2=\"" + Px(kWidth - kMargin) +
         "\" y2=\"" + Px(baseY) + "\" stroke=\"#999\" stroke-width=\"1\"/>\n";
  for (size_t f = 0; f < kFingerNames.size(); ++f) {
    const double load = Drawn(analysis.fingerLoad[f]);
    const double height = kBarHeight * std::min(load / fingerTop, 1.0);
    const double centre = kMargin + (static_cast<double>(f) + 0.5) * slot;
    out += "<g class=\"finger\">\n<rect x=\"" + Px(centre - 28) + "\" y=\"" + Px(baseY - height) +
           "\" width=\"56\" height=\"" + Px(height) + "\" fill=\"" +
           (f < 4 ? "#4e79a7" : "#59a14f") + "\"/>\n";
    AppendText(out, centre, baseY - height - 6, 12, "middle", "#222", Percent(load, 1));
    AppendText(out, centre, baseY + 18, 13, "middle", "#222", kFingerNames[f]);
    out += "</g>\n";
  }
  out += "</svg>\n";
  return out;
}

// ---- The page -------------------------------------------------------------

enum class Unit { kCount, kShare, kKeys, kTime };

struct Figure {
  std::string_view label, json;
  Unit unit;
  double (*get)(const Rates&);
};

const std::array<Figure, 12> kFigures = {{
    {"评测条目", "evaluated", Unit::kCount, [](const Rates& r) { return double(r.evaluated); }},
    {"覆盖条目", "covered", Unit::kCount, [](const Rates& r) { return double(r.covered); }},
    {"覆盖率", "coverage", Unit::kShare, [](const Rates& r) { return r.coverage; }},
    {"选重率", "selection_rate", Unit::kShare, [](const Rates& r) { return r.selectionRate; }},
    {"按权重排序后的选重率", "selection_rate_sorted", Unit::kShare,
     [](const Rates& r) { return r.selectionRateSorted; }},
    {"字均击键", "keys_per_char", Unit::kKeys, [](const Rates& r) { return r.keysPerChar; }},
    {"字均码长", "code_length_per_char", Unit::kKeys,
     [](const Rates& r) { return r.codeLengthPerChar; }},
    {"当量", "pair_time", Unit::kTime, [](const Rates& r) { return r.pairTime; }},
    {"当量覆盖", "pair_time_coverage", Unit::kShare,
     [](const Rates& r) { return r.pairTimeCoverage; }},
    {"左右手互击率", "hand_alternation", Unit::kShare,
     [](const Rates& r) { return r.handAlternation; }},
    {"同指率", "same_finger", Unit::kShare, [](const Rates& r) { return r.sameFinger; }},
    {"同键率", "same_key", Unit::kShare, [](const Rates& r) { return r.sameKey; }},
}};

std::string FigureValue(const Figure& figure, const Rates& rates) {
  const double v = figure.get(rates);
  switch (figure.unit) {
    case Unit::kCount:
      return Fixed(v, 0);
    case Unit::kShare:
      return Percent(v, 2);
    case Unit::kKeys:
    case Unit::kTime:
      return Fixed(v, 3);
  }
  return std::string(kNoValue);
}

std::string FigureChange(const Figure& figure, const Rates& old, const Rates& now) {
  const double d = figure.get(now) - figure.get(old);
  switch (figure.unit) {
    case Unit::kCount:
      return Signed(d, 0);
    case Unit::kShare:
      return Signed(d * 100, 2) + " 个百分点";
    case Unit::kKeys:
    case Unit::kTime:
      return Signed(d, 3);
  }
  return std::string(kNoValue);
}

std::string FigureHeading(const Figure& figure) {
  return std::string(figure.label) + " <small>" + std::string(figure.json) + "</small>";
}

constexpr std::string_view kStyle = R"(
body { font-family: FONTS; margin: 2em auto; max-width: 1200px; padding: 0 1em; color: #222; }
h1 { font-size: 1.6em; } h2 { font-size: 1.25em; margin-top: 2em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; margin: .5em 0; }
th, td { border: 1px solid #ccc; padding: .25em .6em; vertical-align: top; }
th { background: #f4f4f4; text-align: left; font-weight: normal; }
tbody th { white-space: nowrap; }
td.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
small { color: #777; font-size: .8em; font-family: monospace; }
.wide { overflow-x: auto; }
.pictures { display: flex; flex-wrap: wrap; gap: 1.5em; }
figure { margin: 0; flex: 1 1 560px; min-width: 0; } figcaption { font-weight: bold; margin-bottom: .3em; }
svg { max-width: 100%; height: auto; }
.rows span { display: inline-block; margin-right: 1em; }
code { font-family: monospace; background: #f4f4f4; padding: 0 .2em; }
)";

// Rows, cells and numbers: the page's small verbs.
void Cell(std::string& out, std::string_view text, bool number = false) {
  out += number ? "<td class=\"num\">" : "<td>";
  out += text;
  out += "</td>";
}

void AppendFigures(std::string& out, const Analysis& now, const Comparison* against) {
  out += "<table class=\"figures\">\n<thead><tr><th>指标</th>";
  out += against ? "<th>旧表</th><th>本表</th><th>变化</th>" : "<th>值</th>";
  out += "</tr></thead>\n<tbody>\n";
  for (const Figure& figure : kFigures) {
    out += "<tr><th>" + FigureHeading(figure) + "</th>";
    if (against) Cell(out, FigureValue(figure, against->old.rates), true);
    Cell(out, FigureValue(figure, now.rates), true);
    if (against) Cell(out, FigureChange(figure, against->old.rates, now.rates), true);
    out += "</tr>\n";
  }
  out += "</tbody>\n</table>\n";
}

std::string BandName(const Band& band) {
  return Count(band.firstRank) + "–" + (band.lastRank == 0 ? "末" : Count(band.lastRank));
}

void AppendBands(std::string& out, const std::vector<Band>& bands) {
  if (bands.empty()) {
    out += "<p>无分段数据。</p>\n";
    return;
  }
  out += "<div class=\"wide\"><table class=\"bands\">\n<thead><tr><th>频序</th>";
  for (const Figure& figure : kFigures) out += "<th>" + FigureHeading(figure) + "</th>";
  out += "</tr></thead>\n<tbody>\n";
  for (const Band& band : bands) {
    out += "<tr><th>" + BandName(band) + "</th>";
    for (const Figure& figure : kFigures) Cell(out, FigureValue(figure, band.rates), true);
    out += "</tr>\n";
  }
  out += "</tbody>\n</table></div>\n";
}

// Bars of the share of chosen codes by length; the rare very long codes
// share the last bar.
std::string CodeLengthSvg(const std::vector<double>& lengths) {
  constexpr size_t kMaxBars = 30;
  size_t last = 0;
  for (size_t i = 0; i < lengths.size(); ++i) {
    if (Drawn(lengths[i]) > 0) last = i;
  }
  const size_t first = !lengths.empty() && Drawn(lengths[0]) > 0 ? 0 : 1;
  const size_t bars = std::min(std::max(last, first) - first + 1, kMaxBars);
  std::vector<double> share(bars, 0.0);
  for (size_t i = first; i < lengths.size(); ++i) {
    share[std::min(i - first, bars - 1)] += Drawn(lengths[i]);
  }
  const double top = ScaleTop(*std::max_element(share.begin(), share.end()));
  constexpr double kBarWidth = 44, kSlot = 56, kBarHeight = 160, kTop = 24;
  const double width = 2 * kMargin + kSlot * static_cast<double>(bars);
  const double height = kTop + kBarHeight + 40;
  const double baseY = kTop + kBarHeight;
  std::string out =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" class=\"lengths\" "
      "width=\"" +
      Px(width) + "\" height=\"" + Px(height) + "\" viewBox=\"0 0 " + Px(width) + " " + Px(height) +
      "\" font-family=\"" + std::string(kFonts) + "\">\n";
  for (size_t b = 0; b < bars; ++b) {
    const double h = kBarHeight * std::min(share[b] / top, 1.0);
    const double x = kMargin + kSlot * static_cast<double>(b) + (kSlot - kBarWidth) / 2;
    out += "<rect x=\"" + Px(x) + "\" y=\"" + Px(baseY - h) + "\" width=\"" + Px(kBarWidth) +
           "\" height=\"" + Px(h) + "\" fill=\"#4e79a7\"/>\n";
    AppendText(out, x + kBarWidth / 2, baseY - h - 5, 11, "middle", "#222", Percent(share[b], 1));
    std::string label = Count(first + b);
    if (b + 1 == bars && last >= first + kMaxBars) label = "≥" + label;
    AppendText(out, x + kBarWidth / 2, baseY + 18, 12, "middle", "#222", label);
  }
  out += "<line x1=\"" + Px(kMargin) + "\" y1=\"" + Px(baseY) + "\" x2=\"" + Px(width - kMargin) +
         "\" y2=\"" + Px(baseY) + "\" stroke=\"#999\" stroke-width=\"1\"/>\n";
  out += "</svg>\n";
  return out;
}

constexpr size_t kCostlyShown = 200;
constexpr size_t kMissingShown = 50;
constexpr size_t kChangesShown = 50;

void AppendCostlyCodes(std::string& out, const std::vector<CostlyCode>& codes) {
  if (codes.empty()) {
    out += "<p>没有需要选重的条目。</p>\n";
    return;
  }
  out += "<p>共 " + Count(codes.size()) + " 个编码";
  if (codes.size() > kCostlyShown) out += "，列出代价最高的 " + Count(kCostlyShown) + " 个";
  out += "。代价为这些条目的选重击键按权重之和。</p>\n";
  out +=
      "<table class=\"costly\">\n<thead><tr><th>编码</th><th>代价 <small>cost</small></th>"
      "<th>各行（表中顺序，括号内为权重）</th><th>可用空码</th></tr></thead>\n<tbody>\n";
  for (size_t i = 0; i < codes.size() && i < kCostlyShown; ++i) {
    const CostlyCode& code = codes[i];
    out += "<tr><td><code>" + Escaped(code.code) + "</code></td>";
    Cell(out, Fixed(code.cost, 5), true);
    out += "<td class=\"rows\">";
    for (size_t r = 0; r < code.rows.size(); ++r) {
      out += "<span>" + Count(r + 1) + ". " + Escaped(code.rows[r].entry) + " (" +
             Weight(code.rows[r].weight) + ")</span>";
    }
    out += "</td><td>";
    for (size_t f = 0; f < code.freeCodes.size(); ++f) {
      out += (f ? " <code>" : "<code>") + Escaped(code.freeCodes[f]) + "</code>";
    }
    out += "</td></tr>\n";
  }
  out += "</tbody>\n</table>\n";
}

void AppendMissing(std::string& out, const std::vector<EntryWeight>& missing) {
  if (missing.empty()) {
    out += "<p>评测的条目码表都有。</p>\n";
    return;
  }
  out += "<p>共 " + Count(missing.size()) + " 条";
  if (missing.size() > kMissingShown) out += "，按权重列出前 " + Count(kMissingShown) + " 条";
  out +=
      "。</p>\n<table class=\"missing\">\n<thead><tr><th>条目</th><th>权重</th></tr></thead>\n"
      "<tbody>\n";
  for (size_t i = 0; i < missing.size() && i < kMissingShown; ++i) {
    out += "<tr>";
    Cell(out, Escaped(missing[i].entry));
    Cell(out, Weight(missing[i].weight), true);
    out += "</tr>\n";
  }
  out += "</tbody>\n</table>\n";
}

void AppendChanges(std::string& out, const std::vector<EntryChange>& changes) {
  if (changes.empty()) {
    out += "<p>没有条目的击键变化。</p>\n";
    return;
  }
  out +=
      "<table class=\"changes\">\n<thead><tr><th>条目</th><th>份额 <small>p</small></th>"
      "<th>旧击键</th><th>新击键</th><th>变化</th><th>p·变化</th></tr></thead>\n<tbody>\n";
  for (size_t i = 0; i < changes.size() && i < kChangesShown; ++i) {
    const EntryChange& c = changes[i];
    const double delta = c.newKeys - c.oldKeys;
    out += "<tr>";
    Cell(out, Escaped(c.entry));
    Cell(out, Percent(c.p, 4), true);
    Cell(out, Weight(c.oldKeys), true);
    Cell(out, Weight(c.newKeys), true);
    Cell(out, WithSign(Weight(delta)), true);
    Cell(out, Signed(c.p * delta, 6), true);
    out += "</tr>\n";
  }
  out += "</tbody>\n</table>\n";
}

}  // namespace

std::string KeyboardSvg(const Analysis& analysis) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + SvgElement(analysis);
}

std::string AnalysisHtml(const Analysis& analysis, const Comparison* against) {
  const std::string source = Escaped(analysis.source);
  std::string out;
  out +=
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  out += "<title>方案分析：" + source + "</title>\n<style>";
  std::string style(kStyle);
  style.replace(style.find("FONTS"), 5, kFonts);
  out += style + "</style>\n</head>\n<body>\n<h1>方案分析</h1>\n";

  out += "<section id=\"source\">\n<h2>词频来源</h2>\n<table>\n";
  out += "<tr><th>来源 <small>source</small></th><td>" + source + "</td></tr>\n";
  out += "<tr><th>条目数</th><td class=\"num\">" + Count(analysis.sourceEntries) + "</td></tr>\n";
  out += "<tr><th>码表覆盖的权重</th><td class=\"num\">" + Percent(analysis.sourceShareCovered, 2) +
         "</td></tr>\n";
  out += "<tr><th>最长码长</th><td class=\"num\">" + Count(analysis.maxLength) + "</td></tr>\n";
  out += "</table>\n</section>\n";

  out += "<section id=\"figures\">\n<h2>指标</h2>\n";
  AppendFigures(out, analysis, against);
  out += "<h3>按频序分段</h3>\n";
  if (against) out += "<h4>本表</h4>\n";
  AppendBands(out, analysis.bands);
  if (against) {
    out += "<h4>旧表</h4>\n";
    AppendBands(out, against->old.bands);
  }
  out += "</section>\n";

  out += "<section id=\"heatmap\">\n<h2>键位热图</h2>\n<div class=\"pictures\">\n";
  if (against)
    out += "<figure><figcaption>旧表</figcaption>\n" + SvgElement(against->old) + "</figure>\n";
  out += "<figure>";
  if (against) out += "<figcaption>本表</figcaption>\n";
  out += SvgElement(analysis) + "</figure>\n</div>\n</section>\n";

  out += "<section id=\"lengths\">\n<h2>码长分布 <small>所选编码，按权重</small></h2>\n";
  out += CodeLengthSvg(analysis.codeLengths) + "</section>\n";

  out += "<section id=\"costly\">\n<h2>选重代价最高的编码 <small>costly_codes</small></h2>\n";
  AppendCostlyCodes(out, analysis.costlyCodes);
  out += "</section>\n";

  out += "<section id=\"missing\">\n<h2>码表缺少的条目 <small>missing</small></h2>\n";
  AppendMissing(out, analysis.missing);
  out += "</section>\n";

  if (against) {
    out += "<section id=\"changes\">\n<h2>击键变化最大的条目</h2>\n";
    AppendChanges(out, against->changes);
    out += "</section>\n";
  }
  out += "</body>\n</html>\n";
  return out;
}

}  // namespace mirel::analysis
