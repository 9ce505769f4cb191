// The heat map and the report page, checked by the programs that show them:
// rsvg-convert draws the SVG, a headless browser loads the page.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "analysis/typing_analysis.h"
#include "platform/process.h"
#include "platform/utf16.h"
#include "support/test_support.h"

namespace mirel::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Every key of the picture: four rows and the space bar.
constexpr size_t kKeysDrawn = 13 + 13 + 11 + 10 + 1;

Rates SampleRates(double selectionRate) {
  return {.evaluated = 6000,
          .covered = 5821,
          .coverage = 0.9702,
          .selectionRate = selectionRate,
          .selectionRateSorted = 0.0871,
          .keysPerChar = 2.4137,
          .codeLengthPerChar = 2.2,
          .pairTime = 1.2345,
          .pairTimeCoverage = 1,
          .handAlternation = 0.47,
          .sameFinger = 0.061,
          .sameKey = 0.012};
}

// Hostile text where a table or a list can put it.
const std::u16string kHostile = u"<script>alert('x')</script>&\"\x01\xD800";

Analysis SampleAnalysis() {
  Analysis a;
  a.source = "essay";
  a.sourceEntries = 313000;
  a.sourceShareCovered = 0.9312;
  a.maxLength = 4;
  a.rates = SampleRates(0.1234);
  a.keyUse['a'] = 0.073;
  a.keyUse['j'] = 0.12;
  a.keyUse[';'] = 0.0001;
  a.fingerLoad = {0.05, 0.08, 0.12, 0.25, 0.22, 0.13, 0.09, 0.06};
  a.codeLengths = {0, 0.1, 0.3, 0.4, 0.2};
  for (auto [first, last] : std::vector<std::pair<uint64_t, uint64_t>>{
           {1, 300}, {301, 500}, {501, 1500}, {1501, 3000}, {3001, 6000}, {6001, 0}}) {
    a.bands.push_back({first, last, SampleRates(0.01 * static_cast<double>(a.bands.size()))});
  }
  a.costlyCodes = {{u"aa", 0.0123, {{u"工", 1200}, {kHostile, 300}}, {u"aaq", kHostile}}};
  for (int i = 0; i < 60; ++i) {
    a.missing.push_back({Utf8ToUtf16("缺" + std::to_string(i)), 100.0 - i});
  }
  a.missing[3].entry = kHostile;
  return a;
}

Comparison SampleComparison() {
  Comparison c;
  c.old = SampleAnalysis();
  c.old.rates = SampleRates(0.1084);
  c.old.rates.keysPerChar = 2.4137 + 1e-12;  // a change that rounds to nothing
  for (int i = 0; i < 60; ++i) {
    c.changes.push_back({Utf8ToUtf16("变" + std::to_string(i)), 0.01, 3, 2});
  }
  c.changes[1].entry = kHostile;
  return c;
}

size_t Occurrences(const std::string& text, std::string_view what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The width and height of a PNG file, or {0, 0} when it is none.
std::pair<uint32_t, uint32_t> PngSize(const std::string& bytes) {
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  auto word = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  return {word(16), word(20)};
}

// A file URL that survives any character the temporary folder's path holds.
std::string FileUrl(const std::filesystem::path& path) {
  std::string url = "file://";
  for (unsigned char c : path.string()) {
    if (std::isalnum(c) ||
        std::string_view("/-._~").find(static_cast<char>(c)) != std::string_view::npos) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += "0123456789ABCDEF"[c >> 4];
      url += "0123456789ABCDEF"[c & 15];
    }
  }
  return url;
}

ChildOutcome RunProgram(const std::vector<std::string>& argv, double seconds) {
  ChildLimits limits;
  limits.wallSeconds = seconds;
  Result<ChildOutcome> outcome = NewPosixProcessRunner()->RunProgram(argv, limits);
  EXPECT_TRUE(outcome.IsOk()) << test::Describe(outcome);
  return outcome.IsOk() ? outcome.value() : ChildOutcome{};
}

TEST(AnalysisPicturesTest, NumbersAndTextComeOutFixedAndEscaped) {
  const Analysis a = SampleAnalysis();
  const Comparison c = SampleComparison();
  const std::string svg = KeyboardSvg(a);
  const std::string html = AnalysisHtml(a, &c);
  EXPECT_EQ(svg, KeyboardSvg(SampleAnalysis()));
  EXPECT_EQ(html, AnalysisHtml(SampleAnalysis(), &c));

  // The shares on the keys, the scale's top (12% rounds up to 20%), the
  // finger loads and their hands.
  for (const char* part :
       {">7.3%<", ">12.0%<", ">&lt;0.1%<", ">20%<", "左手 50.0% · 右手 50.0%", "左小指", "左无名指",
        "左中指", "左食指", "右食指", "右中指", "右无名指", "右小指"}) {
    EXPECT_TRUE(test::Holds(svg, part));
  }
  EXPECT_EQ(Occurrences(svg, "class=\"key\""), kKeysDrawn);

  // Old and new side by side, and the change, with no "-0.000" for a change
  // that rounds away; the first 50 missing entries and entry changes.
  for (const char* part : {"<td class=\"num\">10.84%</td><td class=\"num\">12.34%</td>"
                           "<td class=\"num\">+1.50 个百分点</td>",
                           "<td class=\"num\">2.414</td><td class=\"num\">2.414</td>"
                           "<td class=\"num\">0.000</td>",
                           "选重率 <small>selection_rate</small>", "<th>6001–末</th>", "缺49",
                           "变49", "<td class=\"num\">-1</td><td class=\"num\">-0.010000</td>"}) {
    EXPECT_TRUE(test::Holds(html, part));
  }
  EXPECT_EQ(html.find("缺50"), std::string::npos);
  EXPECT_EQ(html.find("变50"), std::string::npos);

  // Hostile entries stay text: no markup of theirs, no control, no broken
  // UTF-8 (the lone surrogate becomes U+FFFD).
  for (const std::string* out : {&svg, &html}) {
    EXPECT_EQ(out->find("<script"), std::string::npos);
    EXPECT_EQ(out->find("alert('x')"), std::string::npos);
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(*out)), *out);
    for (char ch : *out) EXPECT_TRUE(ch == '\n' || static_cast<unsigned char>(ch) >= 0x20);
  }
  EXPECT_TRUE(
      test::Holds(html, "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&amp;&quot;␁\uFFFD"));
}

TEST(AnalysisPicturesTest, HeatMapsRenderWithRsvg) {
  test::ScratchDir dir;
  Analysis hostile = SampleAnalysis();
  hostile.source = "<b>&\"'\x01\xff" + std::string(200, 'x');
  hostile.keyUse['q'] = kNaN;
  hostile.keyUse['w'] = -0.5;
  hostile.keyUse['!'] = 0.02;  // not on the picture: named in the legend
  hostile.fingerLoad[2] = kNaN;
  hostile.fingerLoad[3] = std::numeric_limits<double>::infinity();
  const std::string hostileSvg = KeyboardSvg(hostile);
  EXPECT_TRUE(test::Holds(hostileSvg, "图外的键：2.0%"));
  EXPECT_EQ(hostileSvg.find("nan"), std::string::npos);
  EXPECT_EQ(hostileSvg.find("inf"), std::string::npos);

  int n = 0;
  for (const std::string& svg : {KeyboardSvg(SampleAnalysis()), hostileSvg, KeyboardSvg({})}) {
    SCOPED_TRACE(n);
    const std::filesystem::path in = dir / ("map" + std::to_string(n) + ".svg");
    const std::filesystem::path out = dir / ("map" + std::to_string(n++) + ".png");
    test::WriteBytes(in, svg);
    const ChildOutcome drawn = RunProgram({"rsvg-convert", "-o", out.string(), in.string()}, 30);
    ASSERT_NE(drawn.exitCode, 127) << "rsvg-convert missing (Debian librsvg2-bin)";
    ASSERT_EQ(drawn.end, ChildOutcome::End::kFinished);
    EXPECT_EQ(drawn.exitCode, 0) << drawn.output;
    EXPECT_EQ(PngSize(test::ReadBytes(out)), std::make_pair(906u, 630u));
  }
}

// One test, so that the browser starts only twice.
TEST(AnalysisPicturesTest, BrowserShowsThePage) {
  test::ScratchDir dir;
  const Comparison c = SampleComparison();
  const std::filesystem::path page = dir / "report.html";
  test::WriteBytes(page, AnalysisHtml(SampleAnalysis(), &c));
  auto browser = [&](const std::string& profile, const std::string& action) {
    std::filesystem::create_directory(dir / profile);
    return RunProgram(
        {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--user-data-dir=" + (dir / profile).string(), "--window-size=1280,1600",
         action, FileUrl(page)},
        14);
  };

  const ChildOutcome dom = browser("profile-dom", "--dump-dom");
  ASSERT_NE(dom.exitCode, 127) << "chromium missing (Debian chromium)";
  ASSERT_EQ(dom.end, ChildOutcome::End::kFinished) << dom.output;
  EXPECT_EQ(dom.exitCode, 0) << dom.output;
  EXPECT_EQ(Occurrences(dom.output,
                        "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
                        "class=\"heatmap\""),
            2u);
  EXPECT_EQ(Occurrences(dom.output, "class=\"key\""), 2 * kKeysDrawn);
  // The hostile entries were read as text, not as elements.
  for (const char* part : {"class=\"lengths\"", "12.34%", "按权重排序后的选重率", "&lt;script&gt;"})
    EXPECT_TRUE(test::Holds(dom.output, part));
  EXPECT_EQ(dom.output.find("<script"), std::string::npos);

  const std::filesystem::path shot = dir / "report.png";
  const ChildOutcome picture = browser("profile-shot", "--screenshot=" + shot.string());
  ASSERT_EQ(picture.end, ChildOutcome::End::kFinished) << picture.output;
  EXPECT_EQ(PngSize(test::ReadBytes(shot)), std::make_pair(1280u, 1600u)) << picture.output;
}

}  // namespace
}  // namespace mirel::analysis
