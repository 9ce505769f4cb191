// Saving a Rime dictionary or an ibus-table source after the editor moved,
// edited, added or deleted rows: the file keeps its lines where they were,
// only the weights the new order needs change, and the input methods' own
// tools offer the rows in the editor's order.
#include <rime_api.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "convert/linux_formats.h"
#include "platform/utf16.h"
#include "support/test_support.h"

namespace mirel::linux_table {
namespace {

namespace fs = std::filesystem;

int RunShell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

struct LineChanges {
  size_t removed = 0, added = 0;
  std::vector<std::string> addedLines;
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
    if (line.starts_with("> ")) {
      ++changes.added;
      changes.addedLines.push_back(line.substr(2));
    }
  }
  return changes;
}

// "entry|code" in the order the table offers its rows.
std::vector<std::string> Offered(const LinuxTable& table) {
  std::vector<std::string> out;
  const std::u16string text = ToMirelText(table);
  for (const MirelRow& row : SplitMirelText(text)) {
    out.push_back(Utf16ToUtf8(row.entry) + "|" + Utf16ToUtf8(row.code));
  }
  return out;
}

std::vector<std::string> Listed(const std::vector<MirelRow>& rows) {
  std::vector<std::string> out;
  for (const MirelRow& row : rows) {
    out.push_back(Utf16ToUtf8(row.entry) + "|" + Utf16ToUtf8(row.code));
  }
  return out;
}

// Owns the text the rows view.
struct Rows {
  std::vector<std::u16string> lines;
  std::vector<MirelRow> rows;
  explicit Rows(std::initializer_list<const char16_t*> list) : lines(list.begin(), list.end()) {
    for (const std::u16string& line : lines) {
      const size_t tab = line.find(u'\t');
      rows.push_back(
          {std::u16string_view(line).substr(0, tab), std::u16string_view(line).substr(tab + 1)});
    }
  }
};

std::string SaveRime(std::string_view file, const std::vector<MirelRow>& rows) {
  Result<ReadResult> read = ReadRime(file);
  EXPECT_TRUE(read.IsOk()) << test::Describe(read);
  return read.IsOk() ? WriteRime(FromMirelRows(read->table, rows)) : std::string();
}

// The candidates librime offers for `codes` from dictionary `name` in `dir`.
// librime sets its logging up once per process, so it runs in a child.
std::map<std::string, std::vector<std::string>> OfferedByRime(
    const test::ScratchDir& dir, const std::string& name, const std::vector<std::string>& codes) {
  const std::string folder = dir.path().string();
  test::WriteBytes(dir / "sample.schema.yaml",
                   "schema:\n  schema_id: sample\n  name: sample\n  version: \"1\"\n"
                   "engine:\n  processors:\n    - speller\n    - selector\n"
                   "  segmentors:\n    - abc_segmentor\n  translators:\n    - table_translator\n"
                   "speller:\n  alphabet: abcdefghijklmnopqrstuvwxyz\n"
                   "menu:\n  page_size: 100\n"
                   "translator:\n  dictionary: " +
                       name +
                       "\n  enable_completion: false\n"
                       "  enable_user_dict: false\n  enable_sentence: false\n"
                       "  enable_encoder: false\n");
  fs::remove_all(dir / "build");
  EXPECT_EQ(RunShell("cd " + folder + " && rime_deployer --compile sample.schema.yaml " + folder +
                     " " + folder + " " + (dir / "build").string()),
            0);
  const fs::path answer = dir / "offered.txt";
  fs::remove(answer);
  const pid_t child = fork();
  if (child == 0) {
    RimeApi* rime = rime_get_api();
    RIME_STRUCT(RimeTraits, traits);
    traits.shared_data_dir = folder.c_str();
    traits.user_data_dir = folder.c_str();
    traits.app_name = "rime.mirel-test";
    traits.min_log_level = 3;
    rime->setup(&traits);
    rime->initialize(&traits);
    const RimeSessionId lookup = rime->create_session();
    std::string out;
    if (rime->select_schema(lookup, "sample")) {
      for (const std::string& code : codes) {
        rime->clear_composition(lookup);
        rime->simulate_key_sequence(lookup, code.c_str());
        out += code;
        RimeCandidateListIterator it = {};
        if (rime->candidate_list_begin(lookup, &it)) {
          while (rime->candidate_list_next(&it)) out += std::string("\t") + it.candidate.text;
          rime->candidate_list_end(&it);
        }
        out += '\n';
      }
    }
    rime->destroy_session(lookup);
    rime->finalize();
    test::WriteBytes(answer, out);
    _exit(0);
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::map<std::string, std::vector<std::string>> offered;
  std::istringstream lines(fs::exists(answer) ? test::ReadBytes(answer) : std::string());
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string code, word;
    std::getline(fields, code, '\t');
    while (std::getline(fields, word, '\t')) offered[code].push_back(word);
  }
  return offered;
}

// The first `count` rows of a code (past the middle of the table), with
// plain distinct weights.
size_t FindCode(const LinuxTable& table, const std::vector<MirelRow>& rows, size_t count) {
  std::map<std::string, std::string> weightOf;
  for (const LinuxRow& row : table.rows) weightOf[row.entry + "|" + row.code] = row.weight;
  for (size_t i = rows.size() / 2; i + count <= rows.size(); ++i) {
    std::set<std::string> weights;
    bool plain = i == 0 || rows[i - 1].code != rows[i].code;
    for (size_t k = 0; k < count; ++k) {
      plain = plain && rows[i + k].code == rows[i].code;
      const std::string w = weightOf[Listed({rows[i + k]}).front()];
      plain = plain && !w.empty() && w.find_first_not_of("0123456789") == std::string::npos;
      weights.insert(w);
    }
    if (plain && weights.size() == count) return i;
  }
  return rows.size();
}

// Moves the third candidate of a code of plain, distinct weights to the top
// of its code; its place, or rows.size() when no code fits.
size_t MoveThirdToTop(const LinuxTable& table, std::vector<MirelRow>& rows) {
  const size_t at = FindCode(table, rows, 3);
  if (at < rows.size())
    std::rotate(rows.begin() + at, rows.begin() + at + 2, rows.begin() + at + 3);
  return at;
}

TEST(LinuxSaveOrderTest, OneMoveInDebiansWubi86ChangesOneLineAndRimeFollows) {
  const fs::path path = "/usr/share/rime-data/wubi86.dict.yaml";
  if (!fs::exists(path)) GTEST_SKIP() << path << " is not installed (rime-data-wubi)";
  if (!test::HaveProgram("rime_deployer"))
    GTEST_SKIP() << "rime_deployer is not installed (librime-bin)";
  test::ScratchDir dir;
  const std::string file = test::ReadBytes(path);
  Result<ReadResult> read = ReadRime(file);
  ASSERT_TRUE(read.IsOk()) << test::Describe(read);
  const std::u16string text = ToMirelText(read->table);
  std::vector<MirelRow> rows = SplitMirelText(text);
  const size_t at = MoveThirdToTop(read->table, rows);
  ASSERT_LT(at, rows.size());
  const std::string code = Utf16ToUtf8(rows[at].code);

  const std::string saved = WriteRime(FromMirelRows(read->table, rows));
  const LineChanges changes = Diff(dir, file, saved);
  EXPECT_LE(changes.removed, 3u);
  EXPECT_LE(changes.added, 3u);
  ASSERT_EQ(changes.addedLines.size(), 1u);
  // A whole number, as the file writes them, above the row it passed.
  const std::string& line = changes.addedLines.front();
  EXPECT_TRUE(line.starts_with(Utf16ToUtf8(rows[at].entry) + "\t" + code + "\t")) << line;
  Result<ReadResult> again = ReadRime(saved);
  ASSERT_TRUE(again.IsOk()) << test::Describe(again);
  std::map<std::string, std::string> weightOf;
  for (const LinuxRow& row : again->table.rows) weightOf[row.entry + "|" + row.code] = row.weight;
  const std::string moved = weightOf[Listed({rows[at]}).front()];
  EXPECT_EQ(moved.find_first_not_of("0123456789"), std::string::npos) << moved;
  EXPECT_GT(std::stoll(moved), std::stoll(weightOf[Listed({rows[at + 1]}).front()]));
  // Every row of the dictionary is offered as listed.
  EXPECT_TRUE(Offered(again->table) == Listed(rows));

  test::WriteBytes(dir / "wubi86.dict.yaml", saved);
  std::vector<std::string> expected;
  for (size_t k = at; k < rows.size() && rows[k].code == rows[at].code; ++k) {
    expected.push_back(Utf16ToUtf8(rows[k].entry));
  }
  EXPECT_EQ(OfferedByRime(dir, "wubi86", {code})[code], expected);
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
  const Rows moved({u"甲\ta", u"丙\ta", u"乙\ta", u"丑\tb", u"子\tb", u"天\tc", u"人\tc", u"地\tc",
                    u"南\td", u"西\td", u"东\td", u"金\te", u"水\te", u"木\te", u"月\tf", u"星\tf",
                    u"日\tf"});
  const std::string saved = SaveRime(file, moved.rows);
  EXPECT_EQ(saved, header +
                       "甲\ta\t30\n乙\ta\t20\n丙\ta\t25\n"
                       "子\tb\t551000000\n丑\tb\t551000001\n"
                       "天\tc\t22\n地\tc\t20\n人\tc\t21\n"
                       "东\td\t0\n南\td\t2\n西\td\t1\n"
                       "金\te\n水\te\n木\te\n月\tf\n星\tf\n日\tf\n");
  const Rows top({u"丙\ta", u"甲\ta", u"乙\ta"});
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
  const Rows edited({u"工\ta", u"戈\ta", u"弋\ta", u"花\tb", u"丁\ta", u"新\tz"});
  EXPECT_EQ(SaveRime(file, edited.rows), header +
                                             "# 单字\n工\ta\t30\taaa\n戈\ta\t20\n弋\ta\t10\n"
                                             "丁\ta\n# 词\n花\tb\t7\n新\tz\n");

  // A percentage is weighed by Rime against other tables: it stays as
  // written, and its code's rows take their lines in the listed order.
  const std::string percent = header + "甲\ta\t5%\n乙\ta\t9\n丙\ta\t8\n丁\tb\t3\n";
  const Rows swapped({u"乙\ta", u"丙\ta", u"甲\ta", u"丁\tb"});
  EXPECT_EQ(SaveRime(percent, swapped.rows), header + "乙\ta\t9\n丙\ta\t8\n甲\ta\t5%\n丁\tb\t3\n");
}

// ibus-table's frequencies follow the same rule: checked on Debian's quick5,
// written as a source, then one move, then built by ibus-table-createdb.
TEST(LinuxSaveOrderTest, IbusSourceKeepsItsLinesAndCreatedbFollows) {
  const fs::path db = "/usr/share/ibus-table/tables/quick5.db";
  if (!fs::exists(db)) GTEST_SKIP() << db << " is not installed (ibus-table-quick5)";
  if (!test::HaveProgram("ibus-table-createdb"))
    GTEST_SKIP() << "ibus-table-createdb is not installed (ibus-table)";
  test::ScratchDir dir;
  Result<ReadResult> installed = ReadIbusDatabase(test::ReadBytes(db));
  ASSERT_TRUE(installed.IsOk()) << test::Describe(installed);
  LinuxTable source = installed->table;
  source.format = LinuxFormat::kIbusSource;
  const std::string file = WriteIbusSource(source);
  Result<ReadResult> read = ReadIbusSource(file);
  ASSERT_TRUE(read.IsOk()) << test::Describe(read);

  const std::u16string text = ToMirelText(read->table);
  std::vector<MirelRow> rows = SplitMirelText(text);
  const size_t at = MoveThirdToTop(read->table, rows);
  ASSERT_LT(at, rows.size());
  const std::string saved = WriteIbusSource(FromMirelRows(read->table, rows));
  const LineChanges changes = Diff(dir, file, saved);
  EXPECT_LE(changes.removed, 3u);
  EXPECT_LE(changes.added, 3u);
  for (const std::string& line : changes.addedLines) {
    EXPECT_EQ(line.substr(line.rfind('\t') + 1).find_first_not_of("0123456789"), std::string::npos)
        << line;
  }

  // Above the row it passed: a tie would leave the order to the build.
  Result<ReadResult> again = ReadIbusSource(saved);
  ASSERT_TRUE(again.IsOk()) << test::Describe(again);
  std::map<std::string, std::string> weightOf;
  for (const LinuxRow& row : again->table.rows) weightOf[row.entry + "|" + row.code] = row.weight;
  EXPECT_GT(std::stoll(weightOf[Listed({rows[at]}).front()]),
            std::stoll(weightOf[Listed({rows[at + 1]}).front()]));

  test::WriteBytes(dir / "saved.txt", saved);
  ASSERT_EQ(RunShell("ibus-table-createdb -n " + (dir / "saved.db").string() + " -s " +
                     (dir / "saved.txt").string()),
            0);
  Result<ReadResult> built = ReadIbusDatabase(test::ReadBytes(dir / "saved.db"));
  ASSERT_TRUE(built.IsOk()) << test::Describe(built);
  EXPECT_TRUE(Offered(built->table) == Listed(rows));
}

}  // namespace
}  // namespace mirel::linux_table
