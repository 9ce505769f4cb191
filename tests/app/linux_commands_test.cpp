// linux list/export/install and conversions with the Linux formats, over a
// fake home and fake system folders built per test.
#include "app/linux_commands.h"

#include <set>
#include <sstream>

#include "app/linux_tool_fixture.h"
#include "convert/linux_formats.h"
#include "support/scripted_runner.h"
#include "support/test_support.h"

namespace mirel {
namespace {

namespace fs = std::filesystem;
using linux_table::LinuxFormat;
using test::ReadBytes;
using test::Snapshot;
using test::WriteBytes;

class LinuxCommandsTest : public test::LinuxToolTest {
 protected:
  void SetUp() override {
    if (!test::HaveProgram("ibus-table-createdb")) {
      GTEST_SKIP() << "ibus-table-createdb is not installed (ibus-table)";
    }
    const fs::path sys = dir_ / "sys";
    fs::create_directories(sys / "fcitx5/inputmethod");
    fs::create_directories(sys / "fcitx5/table");
    fs::create_directories(sys / "libime");
    fs::create_directories(sys / "rime-data");
    fs::create_directories(sys / "ibus-table/tables");
    // Both Rime front ends have a user folder.
    fs::create_directories(env_.dataHome / "fcitx5/rime");
    fs::create_directories(env_.configHome / "ibus/rime");

    WriteBytes(sys / "fcitx5/inputmethod/tt.conf",
               "[InputMethod]\nName=TT\nAddon=table\n\n[Table]\nFile=table/tt.main.dict\n");
    WriteBytes(sys / "fcitx5/inputmethod/abs.conf", "[InputMethod]\nName=Abs\n\n[Table]\nFile=" +
                                                        (sys / "libime/abs.main.dict").string() +
                                                        "\nOrderPolicy=No\n");
    WriteBytes(sys / "fcitx5/inputmethod/pinyin.conf",
               "[InputMethod]\nName=Pinyin\nAddon=pinyin\n");
    const std::string fcitx = "KeyCode=abc\nLength=3\n[Data]\na 工\na 戈\nab 式\n";
    Result<linux_table::ReadResult> text = linux_table::ReadFcitxText(fcitx);
    Result<std::string> binary = linux_table::WriteFcitxBinary(text->table);
    EXPECT_TRUE(binary.IsOk());
    WriteBytes(sys / "fcitx5/table/tt.main.dict", binary.value());
    WriteBytes(sys / "libime/abs.main.dict", binary.value());
    WriteBytes(sys / "rime-data/rr.dict.yaml",
               "---\nname: rr\nversion: \"1\"\n...\n# rows\n工\ta\t10\n戈\ta\t20\n");
    WriteBytes(dir_ / "ii.txt",
               "BEGIN_DEFINITION\nNAME = ii\nVALID_INPUT_CHARS = abc\nMAX_KEY_LENGTH = 3\n"
               "LAYOUT = us\nEND_DEFINITION\nBEGIN_TABLE\na\t工\t10\na\t戈\t20\nEND_TABLE\n");
    EXPECT_EQ(std::system(("ibus-table-createdb -n " + (sys / "ibus-table/tables/ii.db").string() +
                           " -s " + (dir_ / "ii.txt").string() + " >/dev/null 2>&1")
                              .c_str()),
              0);
  }
};

TEST_F(LinuxCommandsTest, ListShowsEveryTableWithItsFormatAndRows) {
  ASSERT_EQ(Run({"linux", "list", "--json"}), 0) << err_.str();
  const std::string sys = (dir_ / "sys").string();
  EXPECT_EQ(
      out_.str(),
      "{\"name\":\"fcitx5:abs\",\"ime\":\"fcitx5\",\"format\":\"fcitx5-dict\",\"path\":\"" + sys +
          "/libime/abs.main.dict\",\"rows\":3,\"user\":false,\"overrides\":false}\n"
          "{\"name\":\"fcitx5:tt\",\"ime\":\"fcitx5\",\"format\":\"fcitx5-dict\",\"path\":\"" +
          sys +
          "/fcitx5/table/tt.main.dict\",\"rows\":3,\"user\":false,\"overrides\":false}\n"
          "{\"name\":\"ibus-table:ii\",\"ime\":\"ibus-table\",\"format\":\"ibus-db\",\"path\":\"" +
          sys +
          "/ibus-table/tables/ii.db\",\"rows\":2,\"user\":false,\"overrides\":false}\n"
          "{\"name\":\"rime:rr\",\"ime\":\"rime\",\"format\":\"rime\",\"path\":\"" +
          sys + "/rime-data/rr.dict.yaml\",\"rows\":2,\"user\":false,\"overrides\":false}\n");
  EXPECT_EQ(Run({"linux", "list"}), 0);
  EXPECT_TRUE(test::Holds(out_.str(), "rime:rr"));
}

// Installing writes user copies only, in the input method's own format,
// where it takes them in preference to the system table; the system
// folders keep every byte; rows the format cannot hold are named.
TEST_F(LinuxCommandsTest, InstallWritesUserCopiesAndNeverTheSystem) {
  const auto before = Snapshot(dir_ / "sys");
  WriteBytes(dir_ / "new.txt", "戈\ta\r\n工\ta\r\n外\tax\r\n式\tab\r\n");
  for (const char* name : {"rr", "tt", "abs", "ii"}) {
    ASSERT_EQ(Run({"linux", "install", (dir_ / "new.txt").string(), name, "--drop"}), 0)
        << name << ": " << err_.str();
    // The row with x, a key none of them has, is left out and reported with
    // its line.
    if (std::string(name) != "rr") {
      EXPECT_TRUE(test::Holds(err_.str(), "new.txt:3: a key outside the key set"));
    }
  }
  EXPECT_EQ(Snapshot(dir_ / "sys"), before);

  // Rime: both front ends' folders, named as the file.
  for (const fs::path& folder : {env_.dataHome / "fcitx5/rime", env_.configHome / "ibus/rime"}) {
    EXPECT_EQ(ReadBytes(folder / "rr.dict.yaml"),
              "---\nname: rr\nversion: \"1\"\n...\n# rows\n工\ta\t10\n戈\ta\t20\n外\tax\n式\tab\n");
  }
  // fcitx5 named by an absolute path: a user configuration points at the copy.
  EXPECT_EQ(ReadBytes(env_.dataHome / "fcitx5/inputmethod/abs.conf"),
            "[InputMethod]\nName=Abs\n\n[Table]\nFile=table/abs.main.dict\nOrderPolicy=No\n");

  ASSERT_EQ(Run({"linux", "list", "--json"}), 0);
  std::set<std::string> lines;
  std::istringstream in(out_.str());
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(test::Holds(line, "\"user\":true,\"overrides\":true"));
    EXPECT_EQ(line.find((dir_ / "sys").string()), std::string::npos) << line;
  }
  // Each copy reads back with the new order.
  for (const char* name : {"tt", "abs", "ii"}) {
    ASSERT_EQ(Run({"linux", "export", name, (dir_ / "out.txt").string(), "--to", "mirel"}), 0)
        << err_.str();
    EXPECT_EQ(ReadBytes(dir_ / "out.txt"), test::TableBytes({u"戈\ta", u"工\ta", u"式\tab"}))
        << name;
  }
}

// --reload runs the input method's own command after the install, Rime's with
// the first shared data folder that has its data; a command that fails is a
// failure of the run, though the copy stays installed.
TEST_F(LinuxCommandsTest, ReloadRunsTheInputMethodsCommandAndReportsItsFailure) {
  test::ScriptedRunner runner;
  programs_ = &runner;
  env_.dataDirs = {dir_ / "empty", sys()};
  WriteBytes(dir_ / "new.txt", "戈\ta\r\n");
  ASSERT_EQ(Run({"linux", "install", (dir_ / "new.txt").string(), "rr", "--reload"}), 0)
      << err_.str();
  const fs::path user = env_.dataHome / "fcitx5/rime";
  ASSERT_EQ(runner.programs.size(), 1u);
  EXPECT_EQ(runner.programs[0],
            (std::vector<std::string>{"rime_deployer", "--build", user.string(),
                                      (sys() / "rime-data").string(), (user / "build").string()}));
  EXPECT_TRUE(test::Holds(out_.str(), "ran rime_deployer --build"));

  runner.outcome.exitCode = 1;
  EXPECT_EQ(Run({"linux", "install", (dir_ / "new.txt").string(), "tt", "--reload"}), 1);
  EXPECT_EQ(runner.programs.back(), (std::vector<std::string>{"fcitx5-remote", "-r"}));
  EXPECT_TRUE(test::Holds(err_.str(), "the table is installed, but \"fcitx5-remote -r\" failed"));
  EXPECT_TRUE(fs::exists(env_.dataHome / "fcitx5/table/tt.main.dict"));
}

// A table of another input method gives its rows, in the order its input
// method offers them, to the installed table's header.
TEST_F(LinuxCommandsTest, InstallFromAnotherInputMethodKeepsTheInstalledHeader) {
  ASSERT_EQ(Run({"linux", "install", (dir_ / "sys/rime-data/rr.dict.yaml").string(), "tt"}), 0)
      << err_.str();
  Result<linux_table::ReadResult> copy =
      linux_table::ReadFcitxBinary(ReadBytes(env_.dataHome / "fcitx5/table/tt.main.dict"));
  ASSERT_TRUE(copy.IsOk()) << test::Describe(copy);
  EXPECT_EQ(copy->table.header, "KeyCode=abc\nLength=3\n[Data]\n");
  EXPECT_EQ(linux_table::ToMirelText(copy->table), u"戈\ta\r\n工\ta\r\n");
  EXPECT_TRUE(test::Holds(out_.str(), "fcitx5-remote -r"));

  // A row the installed header cannot hold (tt takes keys abc, three at most)
  // stops the install until --drop says to leave it out; export likewise.
  const fs::path user = env_.dataHome / "fcitx5/table/tt.main.dict";
  const std::string before = ReadBytes(user);
  WriteBytes(dir_ / "long.txt", "工\ta\n戈\tabcab\n");
  EXPECT_EQ(Run({"linux", "install", (dir_ / "long.txt").string(), "tt"}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "longer than 3"));
  EXPECT_TRUE(test::Holds(err_.str(), "nothing was installed"));
  EXPECT_EQ(ReadBytes(user), before);
  ASSERT_EQ(Run({"linux", "install", (dir_ / "long.txt").string(), "tt", "--drop"}), 0)
      << err_.str();
  copy = linux_table::ReadFcitxBinary(ReadBytes(user));
  ASSERT_TRUE(copy.IsOk());
  EXPECT_EQ(linux_table::ToMirelText(copy->table), u"工\ta\r\n");
  EXPECT_EQ(Run({"linux", "export", "rr", (dir_ / "rr.txt").string(), "--to", "ibus"}), 0)
      << err_.str();
}

TEST_F(LinuxCommandsTest, ExportAndConvertBetweenFormats) {
  ASSERT_EQ(Run({"linux", "export", "ii", (dir_ / "ii_out.txt").string()}), 0) << err_.str();
  Result<linux_table::ReadResult> source =
      linux_table::ReadIbusSource(ReadBytes(dir_ / "ii_out.txt"));
  ASSERT_TRUE(source.IsOk()) << test::Describe(source);
  EXPECT_EQ(source->table.rows.size(), 2u);

  ASSERT_EQ(Run({"detect", (dir_ / "sys/fcitx5/table/tt.main.dict").string()}), 0);
  EXPECT_EQ(out_.str(), "fcitx5-dict\n");
  ASSERT_EQ(Run({"convert", (dir_ / "sys/rime-data/rr.dict.yaml").string(), "--to", "sogou", "-o",
                 (dir_ / "rr.txt").string()}),
            0)
      << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "rr.txt"), test::TableBytes({u"a,1=戈", u"a,2=工"}));
  ASSERT_EQ(Run({"convert", (dir_ / "rr.txt").string(), "--to", "rime", "-o",
                 (dir_ / "back.dict.yaml").string()}),
            0)
      << err_.str();
  Result<linux_table::ReadResult> back = linux_table::ReadRime(ReadBytes(dir_ / "back.dict.yaml"));
  ASSERT_TRUE(back.IsOk());
  Result<linux_table::HeaderSettings> header =
      linux_table::ParseHeader(LinuxFormat::kRime, back->table.header);
  EXPECT_EQ(header->name, "back");

  EXPECT_EQ(Run({"linux", "export", "nosuch", (dir_ / "x.txt").string()}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "mirel-tool: linux export: nosuch: no table"));
  EXPECT_EQ(Run({"convert", (dir_ / "rr.txt").string(), "--to", "ibus-db"}), 1);

  // Every row left out: a failure that leaves the old output as it was.
  WriteBytes(dir_ / "zz.dict.yaml", "---\nname: zz\nversion: \"1\"\n...\n工\ta b\n戈\tc d\n");
  WriteBytes(dir_ / "zz.txt", "old");
  EXPECT_EQ(Run({"convert", (dir_ / "zz.dict.yaml").string(), "--to", "fcitx5", "-o",
                 (dir_ / "zz.txt").string()}),
            1);
  EXPECT_TRUE(test::Holds(err_.str(), "no row can be written in this format: 2 left out (line 5"));
  EXPECT_EQ(ReadBytes(dir_ / "zz.txt"), "old");
  EXPECT_EQ(Run({"convert", (dir_ / "rr.txt").string(), "--to", "nosuch", "--from", "rime"}), 2);
}

// libime drops a row outside the header's key set without a word, so the
// conversion lists such rows and writes nothing until --drop is given.
TEST_F(LinuxCommandsTest, ConvertRefusesRowsTheTargetDropsUnlessToldTo) {
  const std::string out = (dir_ / "o.txt").string();
  WriteBytes(out, "old");
  WriteBytes(dir_ / "b.txt", "工\t中文编码\n");
  EXPECT_EQ(
      Run({"convert", (dir_ / "b.txt").string(), "--from", "mirel", "--to", "fcitx5", "-o", out}),
      1);
  EXPECT_TRUE(test::Holds(err_.str(), "中文编码"));
  EXPECT_EQ(ReadBytes(out), "old");

  // Twelve rows outside the keys the codes give (a b) and one inside.
  std::string mixed = "工\tab\n";
  for (int k = 0; k < 12; ++k) mixed += "字" + std::to_string(k) + "\ta中\n";
  WriteBytes(dir_ / "m.txt", mixed);
  const std::vector<std::string> convert = {
      "convert", (dir_ / "m.txt").string(), "--from", "mirel", "--to", "fcitx5", "-o", out};
  EXPECT_EQ(Run(convert), 1);
  EXPECT_EQ(ReadBytes(out), "old");
  const std::string err = err_.str();
  EXPECT_TRUE(test::Holds(err, "m.txt:2: a key outside the key set"));
  EXPECT_TRUE(test::Holds(err, "m.txt:11: "));
  EXPECT_EQ(err.find("m.txt:12: "), std::string::npos);
  EXPECT_TRUE(test::Holds(err, "and 2 more"));
  EXPECT_TRUE(test::Holds(err, "12 rows cannot be written in this format"));
  EXPECT_TRUE(test::Holds(err, "--drop"));

  std::vector<std::string> dropping = convert;
  dropping.push_back("--drop");
  ASSERT_EQ(Run(dropping), 0) << err_.str();
  EXPECT_TRUE(test::Holds(out_.str(), "(12 left out)"));
  Result<linux_table::ReadResult> written = linux_table::ReadFcitxText(ReadBytes(out));
  ASSERT_TRUE(written.IsOk());
  ASSERT_EQ(written->table.rows.size(), 1u);
  EXPECT_FALSE(linux_table::FirstRowFcitxDrops(written->table).has_value());
}

}  // namespace
}  // namespace mirel
