#include "convert/linux_formats.h"

#include "convert/linux_fixtures.h"
#include "convert/table_formats.h"

namespace mirel::linux_table {
namespace {

using F = LinuxFormat;

const char kFcitx[] =
    "KeyCode=abcdefghijklmnopqrstuvwxyz\nLength=4\nPinyin=@\n"
    "[Rule]\ne2=p11+p12+p21+p22\na4=p11+p21+p31+n11\n"
    "[Data]\na 工\na 戈\n\naa 式\nb 𠀀\n";

const char kRime[] =
    "# Rime dictionary\n# encoding: utf-8\n\n---\nname: test\nversion: \"0.1\"\n"
    "sort: by_weight\ncolumns:\n  - text\n  - code\n  - weight\n"
    "encoder:\n  rules:\n    - length_equal: 2\n      formula: \"AaAbBaBb\"\n...\n"
    "\n# single characters\n工\ta\t10\n戈\ta\t20\n式\taa\n𠀀\tb\t5%\n";

const char kIbus[] =
    "### ibus-table source\nBEGIN_DEFINITION\nNAME = test\n"
    "VALID_INPUT_CHARS = abcdefghijklmnopqrstuvwxyz\nMAX_KEY_LENGTH = 4\n"
    "RULES = ce2:p11+p12+p21+p22;ca4:p11+p21+p31+p-11\nEND_DEFINITION\n"
    "BEGIN_TABLE\na\t工\t10\n### a comment\na\t戈\t20\naa\t式\t0\nb\t𠀀\t7\nEND_TABLE\n"
    "BEGIN_GOUCI\nEND_GOUCI\n";

ReadResult Read(F format, std::string_view bytes) {
  Result<ReadResult> r = test::ReadText(format, bytes);
  EXPECT_TRUE(r.IsOk()) << test::Describe(r);
  return r.IsOk() ? std::move(r).value() : ReadResult{};
}

std::string Write(const LinuxTable& table) {
  Result<std::string> bytes = LinuxTableBytes(table);
  EXPECT_TRUE(bytes.IsOk()) << test::Describe(bytes);
  return bytes.IsOk() ? bytes.value() : std::string();
}

template <typename Finding>
std::vector<uint32_t> Lines(const std::vector<Finding>& findings) {
  std::vector<uint32_t> lines;
  for (const Finding& f : findings) lines.push_back(f.line);
  return lines;
}

using Rows = std::vector<std::string>;

struct Case {
  F format;
  const char* bytes;
  Rows candidates;
};

class TextFormatContract : public ::testing::TestWithParam<Case> {};

// Every text format: an unchanged table is written back byte for byte, rows
// come out in the order the input method offers them, characters beyond the
// BMP survive, and moving a row in the editor reaches the input method.
TEST_P(TextFormatContract, RoundTripKeepsBytesOrderAndMoves) {
  const Case& c = GetParam();
  EXPECT_EQ(DetectLinuxFormat(c.bytes), c.format);
  ReadResult read = Read(c.format, c.bytes);
  EXPECT_TRUE(read.diagnostics.empty());
  EXPECT_EQ(Write(read.table), c.bytes);
  EXPECT_EQ(test::Offered(read.table), c.candidates);
  const std::u16string text = ToMirelText(read.table);
  EXPECT_EQ(Write(FromMirelRows(read.table, SplitMirelText(text))), c.bytes);

  // The second candidate of "a" moved first, 式 deleted, 丁 added at the end:
  // where weights give the order, the new row joins its code's lines.
  std::vector<MirelRow> rows = SplitMirelText(text);
  std::swap(rows[0], rows[1]);
  rows.erase(rows.begin() + 2);
  rows.push_back({u"丁", u"a"});
  ReadResult again = Read(c.format, Write(FromMirelRows(read.table, rows)));
  const Rows& was = c.candidates;
  const Rows moved = c.format == F::kFcitxText ? Rows{was[1], was[0], was[3], "丁|a"}
                                               : Rows{was[1], was[0], "丁|a", was[3]};
  EXPECT_EQ(test::Offered(again.table), moved);
  EXPECT_EQ(again.table.kept.size(), read.table.kept.size());  // comments stay
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TextFormatContract,
    ::testing::Values(Case{F::kFcitxText, kFcitx, {"工|a", "戈|a", "式|aa", "𠀀|b"}},
                      Case{F::kRime, kRime, {"戈|a", "工|a", "式|aa", "𠀀|b"}},
                      Case{F::kIbusSource, kIbus, {"戈|a", "工|a", "式|aa", "𠀀|b"}}),
    [](const auto& p) { return std::string(InfoOf(p.param.format).cliName); });

TEST(LinuxFormatsTest, LinesThatAreNotRowsAreReportedWithTheirLine) {
  ReadResult fcitx = Read(F::kFcitxText, "KeyCode=ab\nLength=2\n[Data]\na 工\nlonely\nb 乙\n");
  EXPECT_EQ(Lines(fcitx.diagnostics), std::vector<uint32_t>{5});
  EXPECT_EQ(fcitx.table.rows.size(), 2u);
  ReadResult rime =
      Read(F::kRime, "---\nname: t\ncolumns: [text, code]\n...\n工\ta\n甲\tb\textra\n\tc\n");
  EXPECT_EQ(Lines(rime.diagnostics), (std::vector<uint32_t>{6, 7}));
  EXPECT_EQ(rime.table.kept.size(), 2u);  // kept as comments, so a save keeps them too
  ReadResult ibus = Read(F::kIbusSource, "BEGIN_TABLE\na\t工\t1\na 乙 1\nb\t\t3\nEND_TABLE\n");
  EXPECT_EQ(Lines(ibus.diagnostics), (std::vector<uint32_t>{3, 4}));

  // The footer starts at its end line, also when no line end follows it.
  EXPECT_EQ(Read(F::kIbusSource, "BEGIN_TABLE\na\t工\t1\nEND_TABLE").table.footer, "END_TABLE\n");
  EXPECT_EQ(Read(F::kIbusSource, "BEGIN_TABLE\r\na\t工\t1\r\n END_TABLE\r\n#\n").table.footer,
            " END_TABLE\r\n#\n");
  EXPECT_EQ(Read(F::kIbusSource, "BEGIN_TABLE\na\t工\t1\nEND_TABLE\r").table.footer,
            "END_TABLE\r\n");
}

// Broken headers are refused in files, and an edited header is checked
// before it replaces the old one.
TEST(LinuxFormatsTest, BrokenHeadersAreRefused) {
  for (const auto& [format, bytes] : std::vector<std::pair<F, std::string_view>>{
           {F::kFcitxText, "KeyCode=ab\na 工\n"},
           {F::kRime, "---\nname: t\n工\ta\n"},
           {F::kRime, "---\nname: t\ncolumns: [text, bogus]\n...\n"},
           {F::kRime, "---\nname: t\ncolumns: [code]\n...\n"},
           {F::kIbusSource, "BEGIN_TABLE\na\t工\t1\n"},
           {F::kIbusSource, "a\t工\t1\nEND_TABLE\n"}}) {
    EXPECT_FALSE(test::ReadText(format, bytes).IsOk()) << bytes;
  }
  Result<ReadResult> badYaml = ReadRime("---\nname: [t\ncolumns: x\n...\n");
  ASSERT_FALSE(badYaml.IsOk());
  EXPECT_NE(badYaml.status().message().find("Rime header:"), std::string::npos);

  for (const auto& [format, header, valid] : std::vector<std::tuple<F, std::string_view, bool>>{
           {F::kFcitxText, "KeyCode=abc\nLength=3\n[Data]\n", true},
           {F::kFcitxText, "KeyCode=abc\nLength=3\n", false},
           {F::kFcitxText, "Length=3\n[Data]\n", false},
           {F::kFcitxText, "KeyCode=abc\nLength=3\n[Data]\na 工\n", false},
           {F::kRime, "---\nname: x\n...", true},
           {F::kRime, "---\nversion: 1\n...\n", false},
           {F::kRime, "---\nname: [x\n...\n", false},
           {F::kIbusSource, "BEGIN_DEFINITION\nNAME = x\nEND_DEFINITION\nBEGIN_TABLE\n", true},
           {F::kIbusSource, "BEGIN_DEFINITION\nNAME = x\n", false}}) {
    EXPECT_EQ(ValidateHeader(format, header).IsOk(), valid) << header;
  }
}

TEST(LinuxFormatsTest, SettingsTravelBetweenFormats) {
  std::vector<Diagnostic> diagnostics;
  ReadResult fcitx = Read(F::kFcitxText, kFcitx);
  LinuxTable rime = ConvertTable(fcitx.table, F::kRime, diagnostics);
  LinuxTable ibus = ConvertTable(rime, F::kIbusSource, diagnostics);
  LinuxTable back = ConvertTable(ibus, F::kFcitxText, diagnostics);
  for (const LinuxTable* t : {&rime, &ibus, &back}) {
    SCOPED_TRACE(t->header);
    Result<HeaderSettings> s = ParseHeader(t->format, t->header);
    ASSERT_TRUE(s.IsOk()) << test::Describe(s);
    EXPECT_EQ(s->keys, "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(s->maxCodeLength, 4u);
    EXPECT_EQ(s->rules, (Rows{"e2=p11+p12+p21+p22", "a4=p11+p21+p31+n11"}));
    EXPECT_TRUE(test::ReadText(t->format, Write(*t)).IsOk());
  }
  EXPECT_TRUE(diagnostics.empty());
  EXPECT_EQ(test::Offered(back), test::Offered(fcitx.table));
}

TEST(LinuxFormatsTest, RowsTheTargetCannotHoldAreReportedNotDropped) {
  // Longer than 2 keys, x not a key, no code.
  ReadResult rime = Read(F::kRime,
                         "# mirel-keys: abc\n# mirel-max-code-length: 2\n---\nname: t\n...\n"
                         "工\ta\n长\tabc\n外\tax\n空\n");
  std::vector<Diagnostic> diagnostics;
  EXPECT_EQ(ConvertTable(rime.table, F::kFcitxText, diagnostics).rows.size(), 1u);
  EXPECT_EQ(Lines(diagnostics), (std::vector<uint32_t>{7, 8, 9}));

  // fcitx5's marker lines have no counterpart elsewhere.
  ReadResult marked = Read(F::kFcitxText, "KeyCode=ab\nLength=2\nPrompt=&\n[Data]\n&a 工\na 工\n");
  diagnostics.clear();
  EXPECT_EQ(ConvertTable(marked.table, F::kIbusSource, diagnostics).rows.size(), 1u);
  EXPECT_EQ(Lines(diagnostics), std::vector<uint32_t>{5});

  // With sort: original the file's order wins over the weights.
  ReadResult original = Read(F::kRime, "---\nname: t\nsort: original\n...\n甲\ta\t1\n乙\ta\t9\n");
  EXPECT_EQ(test::Offered(original.table), (Rows{"甲|a", "乙|a"}));
}

TEST(LinuxFormatsTest, DamagedBinaryDictionariesAreRefusedNeverCrash) {
  ReadResult fcitx = Read(F::kFcitxText, kFcitx);
  Result<std::string> binary = WriteFcitxBinary(fcitx.table);
  ASSERT_TRUE(binary.IsOk()) << test::Describe(binary);
  Result<ReadResult> back = ReadFcitxBinary(binary.value());
  ASSERT_TRUE(back.IsOk()) << test::Describe(back);
  EXPECT_EQ(test::Offered(back->table), test::Offered(fcitx.table));
  const std::string& bytes = binary.value();
  for (size_t n = 0; n < bytes.size(); n += std::max<size_t>(1, bytes.size() / 200)) {
    EXPECT_FALSE(ReadFcitxBinary(std::string_view(bytes).substr(0, n)).IsOk()) << n;
  }
  // libime would drop a key outside the key set, or a repeated row, without
  // a word; the writer refuses and names the line instead.
  Result<std::string> refused =
      WriteFcitxBinary(Read(F::kFcitxText, "KeyCode=ab\nLength=2\n[Data]\na 工\nz 工\n").table);
  ASSERT_FALSE(refused.IsOk());
  EXPECT_NE(refused.status().message().find(":5:"), std::string::npos)
      << refused.status().message();
  ReadResult twice = Read(F::kFcitxText, "KeyCode=ab\nLength=2\n[Data]\na 工\nb 乙\na 工\n");
  EXPECT_FALSE(WriteFcitxBinary(twice.table).IsOk());

  // Databases are read, never written.
  LinuxTable table;
  table.format = F::kIbusDatabase;
  EXPECT_EQ(LinuxTableBytes(table).status().code(), Status::Code::kUnsupported);
  EXPECT_EQ(ReadIbusDatabase("SQLite format 3 and then rubbish").status().message(),
            "damaged ibus-table database: file is not a database");
  EXPECT_FALSE(ReadIbusDatabase("").IsOk());
}

// libime reads the key set and length from the header it is given; a row
// outside them is dropped without a word, so it must not be written.
TEST(LinuxFormatsTest, FcitxRowsAreCheckedAgainstTheHeaderWritten) {
  // No header: the written one has the default key set, without 中文编码.
  LinuxTable plain;
  plain.rows = {{"中文编码", "工", "", "", 1}, {"ab", "戈", "", "", 2}};
  std::vector<Diagnostic> diagnostics;
  LinuxTable fcitx = ConvertTable(plain, F::kFcitxText, diagnostics);
  EXPECT_EQ(fcitx.rows.size(), 1u);
  EXPECT_EQ(Lines(diagnostics), std::vector<uint32_t>{1});
  EXPECT_FALSE(FirstRowFcitxDrops(fcitx).has_value());

  // A Rime key set without a length: the header says Length=4.
  ReadResult rime = Read(F::kRime, "# mirel-keys: abc\n---\nname: t\n...\n工\tabcab\n戈\tab\n");
  fcitx = ConvertTable(rime.table, F::kFcitxText, diagnostics);
  ASSERT_EQ(fcitx.rows.size(), 1u);
  EXPECT_EQ(fcitx.rows[0].entry, "戈");
  EXPECT_EQ(ParseHeader(F::kFcitxText, fcitx.header)->maxCodeLength, 4u);

  // A header edit that shortens the codes: the rows it would cost are known
  // before anything is written.
  ReadResult read =
      Read(F::kFcitxText, "KeyCode=abc\nLength=5\n[Data]\na 工\nabcab 戈\nabc 式\nabca 𠀀\n");
  EXPECT_TRUE(FormatOf(F::kFcitxText).CannotHold(read.table).empty());
  read.table.header = "KeyCode=abc\nLength=3\n[Data]\n";
  const SaveCheck check = FormatOf(F::kFcitxText).CannotHold(read.table);
  EXPECT_EQ(check.rowsDropped, 2u);
  EXPECT_EQ(Lines(check.findings), (std::vector<uint32_t>{5, 7}));
  ASSERT_FALSE(check.findings.empty());
  EXPECT_NE(check.findings[0].text.find("longer than 3"), std::string::npos);
  EXPECT_EQ(check.DescribeRows(1), "2 rows cannot be written in this format (line 5: " +
                                       check.findings[0].text + "; 1 more)");
}

}  // namespace
}  // namespace mirel::linux_table
