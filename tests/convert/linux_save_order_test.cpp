// Saving a Rime dictionary or an ibus-table source after the editor moved,
// edited, added or deleted rows: the file keeps its lines where they were,
// only the weights the new order needs change, and the input methods' own
// tools offer the rows in the editor's order.
#include <map>
#include <set>
#include <sstream>

#include "convert/linux_fixtures.h"

namespace mirel::linux_table {
namespace {

namespace fs = std::filesystem;
using test::EditorRows;
using test::Listed;
using test::Offered;
using test::OfferedByRime;
using test::RunShell;

struct LineChanges {
  size_t removed = 0;
  std::vector<std::string> added;
};

// What `diff` (and so `git diff --stat`) counts between two texts.
LineChanges Diff(const test::ScratchDir& dir, std::string_view before, std::string_view after) {
  test::WriteBytes(dir / "before.txt", before);
  test::WriteBytes(dir / "after.txt", after);
  const int status =
      std::system(("diff " + (dir / "before.txt").string() + " " + (dir / "after.txt").string() +
                   " > " + (dir / "diff.txt").string())
                      .c_str());
  EXPECT_NE(status, -1);
  LineChanges changes;
  std::istringstream diff(test::ReadBytes(dir / "diff.txt"));
  for (std::string line; std::getline(diff, line);) {
    if (line.starts_with("< ")) ++changes.removed;
    if (line.starts_with("> ")) changes.added.push_back(line.substr(2));
  }
  return changes;
}

std::string SaveRime(std::string_view file, const std::vector<MirelRow>& rows) {
  Result<ReadResult> read = ReadRime(file);
  EXPECT_TRUE(read.IsOk()) << test::Describe(read);
  return read.IsOk() ? WriteRime(FromMirelRows(read->table, rows)) : std::string();
}

std::map<std::string, std::string> Weights(const LinuxTable& table) {
  std::map<std::string, std::string> weightOf;
  for (const LinuxRow& row : table.rows) weightOf[row.entry + "|" + row.code] = row.weight;
  return weightOf;
}

bool Whole(const std::string& weight) {
  return !weight.empty() && weight.find_first_not_of("0123456789") == std::string::npos;
}

struct OneMove {
  std::string saved;
  LineChanges changes;
  std::vector<std::string> listed;       // every row, in the editor's new order
  std::string code;                      // the moved row's
  std::vector<std::string> codeEntries;  // that code's, in the new order
};

// In a real table, moves the third row of a code of whole, distinct weights
// (past the middle) to the top of its code and saves: the moved row's weight
// is whole and above the row it passed (a tie would leave the order to the
// input method), and the saved file offers every row as listed.
void MoveThirdToTop(const test::ScratchDir& dir, const std::string& file,
                    Result<ReadResult> (*read)(std::string_view),
                    std::string (*write)(const LinuxTable&), OneMove& move) {
  Result<ReadResult> before = read(file);
  ASSERT_TRUE(before.IsOk()) << test::Describe(before);
  const std::u16string text = ToMirelText(before->table);
  std::vector<MirelRow> rows = SplitMirelText(text);
  std::map<std::string, std::string> weightOf = Weights(before->table);
  size_t at = rows.size() / 2;
  for (; at + 3 <= rows.size(); ++at) {
    const std::vector<std::string> three = Listed({rows[at], rows[at + 1], rows[at + 2]});
    const std::set<std::string> weights = {weightOf[three[0]], weightOf[three[1]],
                                           weightOf[three[2]]};
    bool plain = (at == 0 || rows[at - 1].code != rows[at].code) && weights.size() == 3;
    for (size_t k = 0; k < 3; ++k) {
      plain = plain && rows[at + k].code == rows[at].code && Whole(weightOf[three[k]]);
    }
    if (plain) break;
  }
  ASSERT_LE(at + 3, rows.size()) << "no code of three whole, distinct weights";
  std::rotate(rows.begin() + at, rows.begin() + at + 2, rows.begin() + at + 3);
  move.saved = write(FromMirelRows(before->table, rows));
  move.changes = Diff(dir, file, move.saved);
  move.listed = Listed(rows);
  move.code = Utf16ToUtf8(rows[at].code);
  for (size_t k = at; k < rows.size() && rows[k].code == rows[at].code; ++k) {
    move.codeEntries.push_back(Utf16ToUtf8(rows[k].entry));
  }
  Result<ReadResult> again = read(move.saved);
  ASSERT_TRUE(again.IsOk()) << test::Describe(again);
  weightOf = Weights(again->table);
  const std::string moved = weightOf[move.listed[at]];
  EXPECT_TRUE(Whole(moved)) << moved;
  EXPECT_GT(std::stoll(moved), std::stoll(weightOf[move.listed[at + 1]]));
  EXPECT_TRUE(Offered(again->table) == move.listed);
}

TEST(LinuxSaveOrderTest, OneMoveInDebiansWubi86ChangesOneLineAndRimeFollows) {
  const std::string path = "/usr/share/rime-data/wubi86.dict.yaml";
  if (const std::string why =
          test::NotInstalled({{path, "rime-data-wubi"}, {"rime_deployer", "librime-bin"}});
      !why.empty()) {
    GTEST_SKIP() << why;
  }
  test::ScratchDir dir;
  OneMove move;
  MoveThirdToTop(dir, test::ReadBytes(path), ReadRime, WriteRime, move);
  if (HasFatalFailure()) return;
  EXPECT_LE(move.changes.removed, 3u);
  ASSERT_EQ(move.changes.added.size(), 1u);
  EXPECT_TRUE(move.changes.added[0].starts_with(move.codeEntries[0] + "\t" + move.code + "\t"))
      << move.changes.added[0];
  test::WriteBytes(dir / "wubi86.dict.yaml", move.saved);
  EXPECT_EQ(OfferedByRime(dir, "wubi86", {move.code})[move.code], move.codeEntries);
}

TEST(LinuxSaveOrderTest, MovedRowsGetWholeWeightsStrictlyBetweenTheirNeighbours) {
  const std::string header = "---\nname: t\nversion: \"1\"\n...\n";
  const std::string file = header +
                           "甲\ta\t30\n乙\ta\t20\n丙\ta\t10\n"
                           "子\tb\t551000000\n丑\tb\t1\n"
                           "天\tc\t21\n地\tc\t20\n人\tc\t10\n"
                           "东\td\t2\n南\td\t1\n西\td\t0\n"
                           "金\te\n木\te\n水\te\n日\tf\n月\tf\n星\tf\n";
  // Between the rows around it where there is room, above the top row
  // without exponent notation, the rows above raised where no whole number
  // fits (also below the lowest weight, which stays at 0), and among rows
  // without weights, which the file orders, the row's line moved.
  const EditorRows moved({u"甲\ta", u"丙\ta", u"乙\ta", u"丑\tb", u"子\tb", u"天\tc", u"人\tc",
                          u"地\tc", u"南\td", u"西\td", u"东\td", u"金\te", u"水\te", u"木\te",
                          u"月\tf", u"星\tf", u"日\tf"});
  const std::string saved = SaveRime(file, moved.rows);
  EXPECT_EQ(saved, header +
                       "甲\ta\t30\n乙\ta\t20\n丙\ta\t25\n"
                       "子\tb\t551000000\n丑\tb\t551000001\n"
                       "天\tc\t22\n地\tc\t20\n人\tc\t21\n"
                       "东\td\t0\n南\td\t2\n西\td\t1\n"
                       "金\te\n水\te\n木\te\n月\tf\n星\tf\n日\tf\n");
  const EditorRows top({u"丙\ta", u"甲\ta", u"乙\ta"});
  EXPECT_EQ(SaveRime(header + "甲\ta\t30\n乙\ta\t20\n丙\ta\t10\n", top.rows),
            header + "甲\ta\t30\n乙\ta\t20\n丙\ta\t31\n");

  // Rime itself agrees.
  test::ScratchDir dir;
  test::WriteBytes(dir / "t.dict.yaml", saved);
  const std::map<std::string, std::vector<std::string>> offered = {
      {"a", {"甲", "丙", "乙"}}, {"b", {"丑", "子"}},       {"c", {"天", "人", "地"}},
      {"d", {"南", "西", "东"}}, {"e", {"金", "水", "木"}}, {"f", {"月", "星", "日"}}};
  if (!test::HaveProgram("rime_deployer")) {
    GTEST_SKIP() << "rime_deployer is not installed (librime-bin): the weights were checked, "
                    "librime's order was not";
  }
  EXPECT_EQ(OfferedByRime(dir, "t", {"a", "b", "c", "d", "e", "f"}), offered);
}

TEST(LinuxSaveOrderTest, EditedAddedAndDeletedRowsKeepTheOtherLinesAsTheyWere) {
  const std::string header = "---\nname: t\ncolumns: [text, code, weight, stem]\n...\n";
  const std::string file = header +
                           "# 单字\n工\ta\t30\taaa\n戈\ta\t20\n式\ta\t10\n"
                           "# 词\n工人\taw\t5\n花\tb\t7\n";
  // 式 edited into 弋 where it was listed, 工人 deleted, 丁 (a) and 新 (a
  // code of its own) added at the end of the list.
  const EditorRows edited({u"工\ta", u"戈\ta", u"弋\ta", u"花\tb", u"丁\ta", u"新\tz"});
  EXPECT_EQ(SaveRime(file, edited.rows), header +
                                             "# 单字\n工\ta\t30\taaa\n戈\ta\t20\n弋\ta\t10\n"
                                             "丁\ta\n# 词\n花\tb\t7\n新\tz\n");

  // A percentage is weighed by Rime against other tables: it stays as
  // written, and its code's rows take their lines in the listed order.
  const std::string percent = header + "甲\ta\t5%\n乙\ta\t9\n丙\ta\t8\n丁\tb\t3\n";
  const EditorRows swapped({u"乙\ta", u"丙\ta", u"甲\ta", u"丁\tb"});
  EXPECT_EQ(SaveRime(percent, swapped.rows), header + "乙\ta\t9\n丙\ta\t8\n甲\ta\t5%\n丁\tb\t3\n");
}

// ibus-table's frequencies follow the same rule: checked on Debian's quick5,
// written as a source, then one move, then built by ibus-table-createdb.
TEST(LinuxSaveOrderTest, IbusSourceKeepsItsLinesAndCreatedbFollows) {
  const std::string db = "/usr/share/ibus-table/tables/quick5.db";
  if (const std::string why =
          test::NotInstalled({{db, "ibus-table-quick5"}, {"ibus-table-createdb", "ibus-table"}});
      !why.empty()) {
    GTEST_SKIP() << why;
  }
  test::ScratchDir dir;
  Result<ReadResult> installed = ReadIbusDatabase(test::ReadBytes(db));
  ASSERT_TRUE(installed.IsOk()) << test::Describe(installed);
  LinuxTable source = installed->table;
  source.format = LinuxFormat::kIbusSource;
  OneMove move;
  MoveThirdToTop(dir, WriteIbusSource(source), ReadIbusSource, WriteIbusSource, move);
  if (HasFatalFailure()) return;
  EXPECT_LE(move.changes.removed, 3u);
  EXPECT_LE(move.changes.added.size(), 3u);
  for (const std::string& line : move.changes.added) {
    EXPECT_TRUE(Whole(line.substr(line.rfind('\t') + 1))) << line;
  }
  test::WriteBytes(dir / "saved.txt", move.saved);
  ASSERT_EQ(RunShell("ibus-table-createdb -n " + (dir / "saved.db").string() + " -s " +
                     (dir / "saved.txt").string()),
            0);
  Result<ReadResult> built = ReadIbusDatabase(test::ReadBytes(dir / "saved.db"));
  ASSERT_TRUE(built.IsOk()) << test::Describe(built);
  EXPECT_TRUE(Offered(built->table) == move.listed);
}

}  // namespace
}  // namespace mirel::linux_table
