// linux list/export/install and conversions with the Linux formats, over a
// fake home and fake system folders built per test.
#include "app/linux_commands.h"

#include <sstream>

#include "app/linux_tool_fixture.h"
#include "convert/linux_formats.h"
#include "support/scripted_runner.h"
#include "support/test_support.h"

namespace mirel {
namespace {

namespace fs = std::filesystem;
using linux_table::LinuxFormat;
using test::Put;
using test::ReadBytes;
using test::Snapshot;
using test::WriteBytes;

class LinuxCommandsTest : public test::LinuxToolTest {
 protected:
  void SetUp() override {
    if (!test::HaveProgram("ibus-table-createdb")) {
      GTEST_SKIP() << "ibus-table-createdb is not installed (ibus-table)";
    }
    // Both Rime front ends have a user folder.
    fs::create_directories(env_.dataHome / "fcitx5/rime");
    fs::create_directories(env_.configHome / "ibus/rime");
    Put(sys() / "fcitx5/inputmethod/tt.conf",
        "[InputMethod]\nName=TT\nAddon=table\n\n[Table]\nFile=table/tt.main.dict\n");
    Put(sys() / "fcitx5/inputmethod/abs.conf",
        "[InputMethod]\nName=Abs\n\n[Table]\nFile=" + (sys() / "libime/abs.main.dict").string() +
            "\nOrderPolicy=No\n");
    Put(sys() / "fcitx5/inputmethod/pinyin.conf", "[InputMethod]\nName=Pinyin\nAddon=pinyin\n");
    const std::string fcitx = "KeyCode=abc\nLength=3\n[Data]\na 工\na 戈\nab 式\n";
    Result<std::string> binary =
        linux_table::WriteFcitxBinary(linux_table::ReadFcitxText(fcitx)->table);
    ASSERT_OK(binary);
    Put(sys() / "fcitx5/table/tt.main.dict", binary.value());
    Put(sys() / "libime/abs.main.dict", binary.value());
    Put(sys() / "rime-data/rr.dict.yaml",
        "---\nname: rr\nversion: \"1\"\n...\n# rows\n工\ta\t10\n戈\ta\t20\n");
    WriteBytes(dir_ / "ii.txt",
               "BEGIN_DEFINITION\nNAME = ii\nVALID_INPUT_CHARS = abc\nMAX_KEY_LENGTH = 3\n"
               "LAYOUT = us\nEND_DEFINITION\nBEGIN_TABLE\na\t工\t10\na\t戈\t20\nEND_TABLE\n");
    fs::create_directories(sys() / "ibus-table/tables");
    EXPECT_EQ(std::system(("ibus-table-createdb -n " + At("sys/ibus-table/tables/ii.db") + " -s " +
                           At("ii.txt") + " >/dev/null 2>&1")
                              .c_str()),
              0);
  }
};

TEST_F(LinuxCommandsTest, ListShowsEveryTableWithItsFormatAndRows) {
  ASSERT_TRUE(Expect(0, {"linux", "list", "--json"}));
  auto line = [&](std::string name, std::string format, std::string path, int rows) {
    const std::string ime = name.substr(0, name.find(':'));
    return "{\"name\":\"" + name + "\",\"ime\":\"" + ime + "\",\"format\":\"" + format +
           "\",\"path\":\"" + At("sys/" + path) + "\",\"rows\":" + std::to_string(rows) +
           ",\"user\":false,\"overrides\":false}\n";
  };
  EXPECT_EQ(out_.str(), line("fcitx5:abs", "fcitx5-dict", "libime/abs.main.dict", 3) +
                            line("fcitx5:tt", "fcitx5-dict", "fcitx5/table/tt.main.dict", 3) +
                            line("ibus-table:ii", "ibus-db", "ibus-table/tables/ii.db", 2) +
                            line("rime:rr", "rime", "rime-data/rr.dict.yaml", 2));
  Expect(0, {"linux", "list"});
  EXPECT_TRUE(test::Holds(out_.str(), "rime:rr"));
}

// Installing writes user copies only, in the input method's own format,
// where it takes them in preference to the system table; the system
// folders keep every byte; rows the format cannot hold are named.
TEST_F(LinuxCommandsTest, InstallWritesUserCopiesAndNeverTheSystem) {
  const auto before = Snapshot(sys());
  WriteBytes(dir_ / "new.txt", "戈\ta\r\n工\ta\r\n外\tax\r\n式\tab\r\n");
  for (const char* name : {"rr", "tt", "abs", "ii"}) {
    ASSERT_TRUE(Expect(0, {"linux", "install", At("new.txt"), name, "--drop"}));
    // The row with x, a key none of them has, is left out and reported with
    // its line.
    if (std::string(name) != "rr") {
      EXPECT_TRUE(test::Holds(err_.str(), "new.txt:3: a key outside the key set"));
    }
  }
  EXPECT_EQ(Snapshot(sys()), before);

  // Rime: both front ends' folders, named as the file.
  for (const fs::path& folder : {env_.dataHome / "fcitx5/rime", env_.configHome / "ibus/rime"}) {
    EXPECT_EQ(ReadBytes(folder / "rr.dict.yaml"),
              "---\nname: rr\nversion: \"1\"\n...\n# rows\n工\ta\t10\n戈\ta\t20\n外\tax\n式\tab\n");
  }
  // fcitx5 named by an absolute path: a user configuration points at the copy.
  EXPECT_EQ(ReadBytes(env_.dataHome / "fcitx5/inputmethod/abs.conf"),
            "[InputMethod]\nName=Abs\n\n[Table]\nFile=table/abs.main.dict\nOrderPolicy=No\n");

  ASSERT_TRUE(Expect(0, {"linux", "list", "--json"}));
  std::istringstream in(out_.str());
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(test::Holds(line, "\"user\":true,\"overrides\":true"));
    EXPECT_EQ(line.find(sys().string()), std::string::npos) << line;
  }
  // Each copy reads back with the new order.
  for (const char* name : {"tt", "abs", "ii"}) {
    ASSERT_TRUE(Expect(0, {"linux", "export", name, At("out.txt"), "--to", "mirel"}));
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
  ASSERT_TRUE(Expect(0, {"linux", "install", At("new.txt"), "rr", "--reload"}));
  const fs::path user = env_.dataHome / "fcitx5/rime";
  ASSERT_EQ(runner.programs.size(), 1u);
  EXPECT_EQ(runner.programs[0],
            (std::vector<std::string>{"rime_deployer", "--build", user.string(),
                                      At("sys/rime-data"), (user / "build").string()}));
  EXPECT_TRUE(test::Holds(out_.str(), "ran rime_deployer --build"));

  runner.outcome.exitCode = 1;
  ExpectSays(1, {"linux", "install", At("new.txt"), "tt", "--reload"},
             "the table is installed, but \"fcitx5-remote -r\" failed");
  EXPECT_EQ(runner.programs.back(), (std::vector<std::string>{"fcitx5-remote", "-r"}));
  EXPECT_TRUE(fs::exists(env_.dataHome / "fcitx5/table/tt.main.dict"));
}

// A table of another input method gives its rows, in the order its input
// method offers them, to the installed table's header.
TEST_F(LinuxCommandsTest, InstallFromAnotherInputMethodKeepsTheInstalledHeader) {
  ASSERT_TRUE(Expect(0, {"linux", "install", At("sys/rime-data/rr.dict.yaml"), "tt"}));
  const fs::path user = env_.dataHome / "fcitx5/table/tt.main.dict";
  Result<linux_table::ReadResult> copy = linux_table::ReadFcitxBinary(ReadBytes(user));
  ASSERT_OK(copy);
  EXPECT_EQ(copy->table.header, "KeyCode=abc\nLength=3\n[Data]\n");
  EXPECT_EQ(linux_table::ToMirelText(copy->table), u"戈\ta\r\n工\ta\r\n");
  EXPECT_TRUE(test::Holds(out_.str(), "fcitx5-remote -r"));

  // A row the installed header cannot hold (tt takes keys abc, three at most)
  // stops the install until --drop says to leave it out; export likewise.
  const std::string before = ReadBytes(user);
  WriteBytes(dir_ / "long.txt", "工\ta\n戈\tabcab\n");
  ExpectSays(1, {"linux", "install", At("long.txt"), "tt"}, "longer than 3");
  EXPECT_TRUE(test::Holds(err_.str(), "nothing was installed"));
  EXPECT_EQ(ReadBytes(user), before);
  ASSERT_TRUE(Expect(0, {"linux", "install", At("long.txt"), "tt", "--drop"}));
  copy = linux_table::ReadFcitxBinary(ReadBytes(user));
  ASSERT_OK(copy);
  EXPECT_EQ(linux_table::ToMirelText(copy->table), u"工\ta\r\n");
  Expect(0, {"linux", "export", "rr", At("rr.txt"), "--to", "ibus"});
}

TEST_F(LinuxCommandsTest, ExportAndConvertBetweenFormats) {
  ASSERT_TRUE(Expect(0, {"linux", "export", "ii", At("ii_out.txt")}));
  Result<linux_table::ReadResult> source =
      linux_table::ReadIbusSource(ReadBytes(dir_ / "ii_out.txt"));
  ASSERT_OK(source);
  EXPECT_EQ(source->table.rows.size(), 2u);

  ASSERT_TRUE(Expect(0, {"detect", At("sys/fcitx5/table/tt.main.dict")}));
  EXPECT_EQ(out_.str(), "fcitx5-dict\n");
  ASSERT_TRUE(Expect(
      0, {"convert", At("sys/rime-data/rr.dict.yaml"), "--to", "sogou", "-o", At("rr.txt")}));
  EXPECT_EQ(ReadBytes(dir_ / "rr.txt"), test::TableBytes({u"a,1=戈", u"a,2=工"}));
  ASSERT_TRUE(Expect(0, {"convert", At("rr.txt"), "--to", "rime", "-o", At("back.dict.yaml")}));
  Result<linux_table::ReadResult> back = linux_table::ReadRime(ReadBytes(dir_ / "back.dict.yaml"));
  ASSERT_OK(back);
  EXPECT_EQ(linux_table::ParseHeader(LinuxFormat::kRime, back->table.header)->name, "back");

  ExpectSays(1, {"linux", "export", "nosuch", At("x.txt")},
             "mirel-tool: linux export: nosuch: no table");
  Expect(1, {"convert", At("rr.txt"), "--to", "ibus-db"});

  // Every row left out: a failure that leaves the old output as it was.
  WriteBytes(dir_ / "zz.dict.yaml", "---\nname: zz\nversion: \"1\"\n...\n工\ta b\n戈\tc d\n");
  WriteBytes(dir_ / "zz.txt", "old");
  ExpectSays(1, {"convert", At("zz.dict.yaml"), "--to", "fcitx5", "-o", At("zz.txt")},
             "no row can be written in this format: 2 left out (line 5");
  EXPECT_EQ(ReadBytes(dir_ / "zz.txt"), "old");
  Expect(2, {"convert", At("rr.txt"), "--to", "nosuch", "--from", "rime"});
}

// libime drops a row outside the header's key set without a word, so the
// conversion lists such rows and writes nothing until --drop is given.
TEST_F(LinuxCommandsTest, ConvertRefusesRowsTheTargetDropsUnlessToldTo) {
  const std::string out = At("o.txt");
  WriteBytes(out, "old");
  WriteBytes(dir_ / "b.txt", "工\t中文编码\n");
  ExpectSays(1, {"convert", At("b.txt"), "--from", "mirel", "--to", "fcitx5", "-o", out},
             "中文编码");
  EXPECT_EQ(ReadBytes(out), "old");

  // Twelve rows outside the keys the codes give (a b) and one inside.
  std::string mixed = "工\tab\n";
  for (int k = 0; k < 12; ++k) mixed += "字" + std::to_string(k) + "\ta中\n";
  WriteBytes(dir_ / "m.txt", mixed);
  std::vector<std::string> convert = {"convert", At("m.txt"), "--from", "mirel",
                                      "--to",    "fcitx5",    "-o",     out};
  Expect(1, convert);
  EXPECT_EQ(ReadBytes(out), "old");
  const std::string err = err_.str();
  for (const char* part : {"m.txt:2: a key outside the key set", "m.txt:11: ", "and 2 more",
                           "12 rows cannot be written in this format", "--drop"}) {
    EXPECT_TRUE(test::Holds(err, part));
  }
  EXPECT_EQ(err.find("m.txt:12: "), std::string::npos);

  convert.push_back("--drop");
  ASSERT_TRUE(Expect(0, convert));
  EXPECT_TRUE(test::Holds(out_.str(), "(12 left out)"));
  Result<linux_table::ReadResult> written = linux_table::ReadFcitxText(ReadBytes(out));
  ASSERT_OK(written);
  ASSERT_EQ(written->table.rows.size(), 1u);
  EXPECT_FALSE(linux_table::FirstRowFcitxDrops(written->table).has_value());
}

}  // namespace
}  // namespace mirel
