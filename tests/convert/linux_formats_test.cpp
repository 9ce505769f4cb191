#include "convert/linux_formats.h"

#include "convert/linux_fixtures.h"
#include "convert/table_formats.h"

namespace mirel::linux_table {
namespace {

using F = LinuxFormat;

const char kFcitx[] =
    "KeyCode=abcdefghijklmnopqrstuvwxyz\n"
    "Length=4\n"
    "Pinyin=@\n"
    "[Rule]\n"
    "e2=p11+p12+p21+p22\n"
    "a4=p11+p21+p31+n11\n"
    "[Data]\n"
    "a 工\n"
    "a 戈\n"
    "\n"
    "aa 式\n"
    "b 𠀀\n";

const char kRime[] =
    "# Rime dictionary\n"
    "# encoding: utf-8\n"
    "\n"
    "---\n"
    "name: test\n"
    "version: \"0.1\"\n"
    "sort: by_weight\n"
    "columns:\n"
    "  - text\n"
    "  - code\n"
    "  - weight\n"
    "encoder:\n"
    "  rules:\n"
    "    - length_equal: 2\n"
    "      formula: \"AaAbBaBb\"\n"
    "...\n"
    "\n"
    "# single characters\n"
    "工\ta\t10\n"
    "戈\ta\t20\n"
    "式\taa\n"
    "𠀀\tb\t5%\n";

const char kIbus[] =
    "### ibus-table source\n"
    "BEGIN_DEFINITION\n"
    "NAME = test\n"
    "VALID_INPUT_CHARS = abcdefghijklmnopqrstuvwxyz\n"
    "MAX_KEY_LENGTH = 4\n"
    "RULES = ce2:p11+p12+p21+p22;ca4:p11+p21+p31+p-11\n"
    "END_DEFINITION\n"
    "BEGIN_TABLE\n"
    "a\t工\t10\n"
    "### a comment\n"
    "a\t戈\t20\n"
    "aa\t式\t0\n"
    "b\t𠀀\t7\n"
    "END_TABLE\n"
    "BEGIN_GOUCI\n"
    "END_GOUCI\n";

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

struct Case {
  F format;
  const char* bytes;
  std::vector<std::string> candidates;
};

class TextFormatContract : public ::testing::TestWithParam<Case> {};

// Every text format: an unchanged table is written back byte for byte, rows
// come out in the order the input method offers them (weights decide
// within a code where the format has them), characters beyond the BMP
// survive, and moving a row in the editor reaches the input method.
TEST_P(TextFormatContract, RoundTripKeepsBytesOrderAndMoves) {
  const Case& c = GetParam();
  ReadResult read = Read(c.format, c.bytes);
  EXPECT_TRUE(read.diagnostics.empty());
  EXPECT_EQ(Write(read.table), c.bytes);
  EXPECT_EQ(test::Offered(read.table), c.candidates);

  // Unchanged rows from the editor give back the very same file.
  const std::u16string text = ToMirelText(read.table);
  EXPECT_EQ(Write(FromMirelRows(read.table, SplitMirelText(text))), c.bytes);

  // The second candidate of "a" moved first, a row added at the end, one
  // deleted: the input method sees exactly this order after a save. Where
  // weights give the order, the new row joins its code's lines.
  std::vector<MirelRow> rows = SplitMirelText(text);
  std::swap(rows[0], rows[1]);
  rows.erase(rows.begin() + 2);  // 式 aa
  rows.push_back({u"丁", u"a"});
  LinuxTable saved = FromMirelRows(read.table, rows);
  ReadResult again = Read(c.format, Write(saved));
  std::vector<std::string> expected =
      c.format == F::kFcitxText
          ? std::vector<std::string>{c.candidates[1], c.candidates[0], c.candidates[3], "丁|a"}
          : std::vector<std::string>{c.candidates[1], c.candidates[0], "丁|a", c.candidates[3]};
  EXPECT_EQ(test::Offered(again.table), expected);
  // Comments stay.
  EXPECT_EQ(again.table.kept.size(), read.table.kept.size());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TextFormatContract,
    ::testing::Values(Case{F::kFcitxText, kFcitx, {"工|a", "戈|a", "式|aa", "𠀀|b"}},
                      Case{F::kRime, kRime, {"戈|a", "工|a", "式|aa", "𠀀|b"}},
                      Case{F::kIbusSource, kIbus, {"戈|a", "工|a", "式|aa", "𠀀|b"}}),
    [](const auto& p) { return std::string(InfoOf(p.param.format).cliName); });

TEST(LinuxFormatsTest, LinesThatAreNotRowsAreReportedWithTheirLine) {
  ReadResult fcitx = Read(F::kFcitxText, "KeyCode=ab\nLength=2\n[Data]\na 工\nlonely\nb 乙\n");
  ASSERT_EQ(fcitx.diagnostics.size(), 1u);
  EXPECT_EQ(fcitx.diagnostics[0].line, 5u);
  EXPECT_EQ(fcitx.table.rows.size(), 2u);

  ReadResult rime =
      Read(F::kRime, "---\nname: t\ncolumns: [text, code]\n...\n工\ta\n甲\tb\textra\n\tc\n");
  ASSERT_EQ(rime.diagnostics.size(), 2u);
  EXPECT_EQ(rime.diagnostics[0].line, 6u);
  EXPECT_EQ(rime.diagnostics[1].line, 7u);
  // Kept as comments, so a save does not lose them either.
  EXPECT_EQ(rime.table.kept.size(), 2u);

  ReadResult ibus = Read(F::kIbusSource, "BEGIN_TABLE\na\t工\t1\na 乙 1\nb\t\t3\nEND_TABLE\n");
  ASSERT_EQ(ibus.diagnostics.size(), 2u);
  EXPECT_EQ(ibus.diagnostics[0].line, 3u);
  EXPECT_EQ(ibus.diagnostics[1].line, 4u);
}

TEST(LinuxFormatsTest, IbusFooterStartsAtItsEndLine) {
  // Also when no line end follows END_TABLE: the line before it stays out.
  EXPECT_EQ(Read(F::kIbusSource, "BEGIN_TABLE\na\t工\t1\nEND_TABLE").table.footer, "END_TABLE\n");
  EXPECT_EQ(Read(F::kIbusSource, "BEGIN_TABLE\r\na\t工\t1\r\n END_TABLE\r\n#\n").table.footer,
            " END_TABLE\r\n#\n");
  EXPECT_EQ(Read(F::kIbusSource, "BEGIN_TABLE\na\t工\t1\nEND_TABLE\r").table.footer,
            "END_TABLE\r\n");
}

TEST(LinuxFormatsTest, BrokenHeadersAreRefused) {
  EXPECT_FALSE(ReadFcitxText("KeyCode=ab\na 工\n").IsOk());
  EXPECT_FALSE(ReadRime("---\nname: t\n工\ta\n").IsOk());
  Result<ReadResult> badYaml = ReadRime("---\nname: [t\ncolumns: x\n...\n");
  ASSERT_FALSE(badYaml.IsOk());
  EXPECT_NE(badYaml.status().message().find("Rime header:"), std::string::npos);
  EXPECT_FALSE(ReadRime("---\nname: t\ncolumns: [text, bogus]\n...\n").IsOk());
  EXPECT_FALSE(ReadRime("---\nname: t\ncolumns: [code]\n...\n").IsOk());
  EXPECT_FALSE(ReadIbusSource("BEGIN_TABLE\na\t工\t1\n").IsOk());
  EXPECT_FALSE(ReadIbusSource("a\t工\t1\nEND_TABLE\n").IsOk());
}

TEST(LinuxFormatsTest, EditedHeadersAreCheckedBeforeTheyReplaceTheOld) {
  EXPECT_OK(ValidateHeader(F::kFcitxText, "KeyCode=abc\nLength=3\n[Data]\n"));
  EXPECT_FALSE(ValidateHeader(F::kFcitxText, "KeyCode=abc\nLength=3\n").IsOk());
  EXPECT_FALSE(ValidateHeader(F::kFcitxText, "Length=3\n[Data]\n").IsOk());
  EXPECT_FALSE(ValidateHeader(F::kFcitxText, "KeyCode=abc\nLength=3\n[Data]\na 工\n").IsOk());
  EXPECT_OK(ValidateHeader(F::kRime, "---\nname: x\n..."));
  EXPECT_FALSE(ValidateHeader(F::kRime, "---\nversion: 1\n...\n").IsOk());
  EXPECT_FALSE(ValidateHeader(F::kRime, "---\nname: [x\n...\n").IsOk());
  EXPECT_OK(
      ValidateHeader(F::kIbusSource, "BEGIN_DEFINITION\nNAME = x\nEND_DEFINITION\nBEGIN_TABLE\n"));
  EXPECT_FALSE(ValidateHeader(F::kIbusSource, "BEGIN_DEFINITION\nNAME = x\n").IsOk());
}

TEST(LinuxFormatsTest, SettingsTravelBetweenFormats) {
  std::vector<Diagnostic> diagnostics;
  ReadResult fcitx = Read(F::kFcitxText, kFcitx);
  LinuxTable rime = ConvertTable(fcitx.table, F::kRime, diagnostics);
  LinuxTable ibus = ConvertTable(rime, F::kIbusSource, diagnostics);
  LinuxTable back = ConvertTable(ibus, F::kFcitxText, diagnostics);
  for (const LinuxTable* t : {&rime, &ibus, &back}) {
    Result<HeaderSettings> s = ParseHeader(t->format, t->header);
    ASSERT_TRUE(s.IsOk()) << test::Describe(s);
    EXPECT_EQ(s->keys, "abcdefghijklmnopqrstuvwxyz") << t->header;
    EXPECT_EQ(s->maxCodeLength, 4u) << t->header;
    EXPECT_EQ(s->rules, (std::vector<std::string>{"e2=p11+p12+p21+p22", "a4=p11+p21+p31+n11"}))
        << t->header;
  }
  EXPECT_TRUE(diagnostics.empty());
  EXPECT_EQ(test::Offered(back), test::Offered(fcitx.table));
  // The output of each conversion reads back as its own format.
  EXPECT_TRUE(ReadRime(Write(rime)).IsOk());
  EXPECT_TRUE(ReadIbusSource(Write(ibus)).IsOk());
}

TEST(LinuxFormatsTest, RowsTheTargetCannotHoldAreReportedNotDropped) {
  ReadResult rime = Read(F::kRime,
                         "# mirel-keys: abc\n# mirel-max-code-length: 2\n---\nname: t\n...\n"
                         "工\ta\n长\tabc\n外\tax\n空\n");
  std::vector<Diagnostic> diagnostics;
  LinuxTable fcitx = ConvertTable(rime.table, F::kFcitxText, diagnostics);
  ASSERT_EQ(diagnostics.size(), 3u);
  EXPECT_EQ(diagnostics[0].line, 7u);  // longer than 2 keys
  EXPECT_EQ(diagnostics[1].line, 8u);  // x is not a key
  EXPECT_EQ(diagnostics[2].line, 9u);  // no code
  EXPECT_EQ(fcitx.rows.size(), 1u);

  // fcitx5's marker lines have no counterpart elsewhere.
  ReadResult marked = Read(F::kFcitxText, "KeyCode=ab\nLength=2\nPrompt=&\n[Data]\n&a 工\na 工\n");
  diagnostics.clear();
  LinuxTable ibus = ConvertTable(marked.table, F::kIbusSource, diagnostics);
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0].line, 5u);
  EXPECT_EQ(ibus.rows.size(), 1u);
}

// How moved rows get their weights is LinuxSaveOrderTest's; here only the
// order weights give.
TEST(LinuxFormatsTest, SortOriginalOffersTheFileOrder) {
  ReadResult original = Read(F::kRime, "---\nname: t\nsort: original\n...\n甲\ta\t1\n乙\ta\t9\n");
  EXPECT_EQ(test::Offered(original.table), (std::vector<std::string>{"甲|a", "乙|a"}));
}

TEST(LinuxFormatsTest, DetectionByHeader) {
  EXPECT_EQ(DetectLinuxFormat(kFcitx), F::kFcitxText);
  EXPECT_EQ(DetectLinuxFormat(kRime), F::kRime);
  EXPECT_EQ(DetectLinuxFormat(kIbus), F::kIbusSource);
  EXPECT_EQ(DetectLinuxFormat(std::string_view("\x00\x0f\xca\xbe\x00\x00\x00\x01", 8)),
            F::kFcitxBinary);
  EXPECT_EQ(DetectLinuxFormat("SQLite format 3"), F::kIbusDatabase);
  EXPECT_EQ(DetectLinuxFormat("啊\ta\n"), std::nullopt);
  EXPECT_EQ(LinuxFormatFromCliName("RIME"), F::kRime);
  EXPECT_EQ(LinuxFormatFromCliName("ibus-db"), F::kIbusDatabase);
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
  ReadResult bad = Read(F::kFcitxText, "KeyCode=ab\nLength=2\n[Data]\na 工\nz 工\n");
  Result<std::string> refused = WriteFcitxBinary(bad.table);
  ASSERT_FALSE(refused.IsOk());
  EXPECT_NE(refused.status().message().find(":5:"), std::string::npos)
      << refused.status().message();
  ReadResult twice = Read(F::kFcitxText, "KeyCode=ab\nLength=2\n[Data]\na 工\nb 乙\na 工\n");
  EXPECT_FALSE(WriteFcitxBinary(twice.table).IsOk());
}

TEST(LinuxFormatsTest, DatabasesAreReadOnly) {
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
  // No header: the codes give no key, so the written header has the default
  // key set, which 中文编码 is not in.
  LinuxTable plain;
  plain.rows = {{"中文编码", "工", "", "", 1}, {"ab", "戈", "", "", 2}};
  std::vector<Diagnostic> diagnostics;
  LinuxTable fcitx = ConvertTable(plain, F::kFcitxText, diagnostics);
  ASSERT_EQ(fcitx.rows.size(), 1u);
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0].line, 1u);
  EXPECT_FALSE(FirstRowFcitxDrops(fcitx).has_value());

  // A Rime key set without a length: the header says Length=4.
  ReadResult rime = Read(F::kRime, "# mirel-keys: abc\n---\nname: t\n...\n工\tabcab\n戈\tab\n");
  diagnostics.clear();
  fcitx = ConvertTable(rime.table, F::kFcitxText, diagnostics);
  ASSERT_EQ(fcitx.rows.size(), 1u);
  EXPECT_EQ(fcitx.rows[0].entry, "戈");
  EXPECT_EQ(ParseHeader(F::kFcitxText, fcitx.header)->maxCodeLength, 4u);
}

// A header edit that shortens the codes: the rows it would cost are known
// before anything is written.
TEST(LinuxFormatsTest, SaveCheckCountsAndNamesTheRowsAHeaderDrops) {
  ReadResult read =
      Read(F::kFcitxText, "KeyCode=abc\nLength=5\n[Data]\na 工\nabcab 戈\nabc 式\nabca 𠀀\n");
  EXPECT_TRUE(FormatOf(F::kFcitxText).CannotHold(read.table).empty());
  LinuxTable edited = read.table;
  edited.header = "KeyCode=abc\nLength=3\n[Data]\n";
  const SaveCheck check = FormatOf(F::kFcitxText).CannotHold(edited);
  EXPECT_EQ(check.rowsDropped, 2u);
  ASSERT_EQ(check.findings.size(), 2u);
  EXPECT_EQ(check.findings[0].line, 5u);
  EXPECT_NE(check.findings[0].text.find("longer than 3"), std::string::npos);
  EXPECT_EQ(check.findings[1].line, 7u);
  EXPECT_EQ(check.DescribeRows(1), "2 rows cannot be written in this format (line 5: " +
                                       check.findings[0].text + "; 1 more)");
}

}  // namespace
}  // namespace mirel::linux_table
