// The command line works on tables in memory and leaves nothing in the
// temporary folder; the editor's store keeps working files only while its
// table is open.
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/tool_cli.h"
#include "platform/temp_folder.h"
#include "store/table_store.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::ScratchDir;
using test::WriteBytes;

// Every file below `base`, however deep; the folders themselves may stay.
std::vector<std::string> FilesBelow(const std::filesystem::path& base) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(base)) {
    if (!entry.is_directory()) files.push_back(entry.path().string());
  }
  return files;
}

class WorkingFilesTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    args.insert(args.begin(), "mirel-tool");
    ToolIo io{out, err, test::DiskFs(), dir_.path(), temp_.path(), false, {}};
    const int status = RunTool(args, io);
    err_ = err.str();
    return status;
  }
  std::string At(std::string_view name) const { return (dir_ / name).string(); }

  ScratchDir dir_;
  ScratchDir temp_;
  std::string err_;
};

TEST_F(WorkingFilesTest, NoCommandLeavesAFileInTheTemporaryFolder) {
  WriteBytes(dir_ / "t.txt", test::Utf8(u"中\tzh\r\n国家\tgj\r\n中\tzh\r\n国\tg\r\n# note\r\n"));
  WriteBytes(dir_ / "f.txt", test::Utf8(u"国\t5\r\n中\t2\r\n"));
  ASSERT_EQ(Run({"compile", "-q", At("t.txt"), At("t.ktb")}), 0) << err_;
  std::vector<std::vector<std::string>> commands = {
      {"sort", At("t.txt"), "--by", "freq", "--freq", At("f.txt"), "-o", At("o.txt")},
      // A compiled table opens through its text, which stays in memory too.
      {"sort", At("t.ktb"), "--by", "code1", "-o", At("o.txt")},
      {"dedup", At("t.ktb"), "-o", At("o.txt")},
      {"dedup", At("t.txt"), "-o", At("o.txt")},
      {"stats", At("t.txt")},
      {"stats", At("t.ktb"), "-o", At("report.txt")},
      {"compile", "-q", At("t.txt"), At("c.ktb")},
      {"extract-single", At("t.txt"), "-o", At("o.txt")},
      {"export-frequency", At("t.txt"), "-o", At("o.txt")},
      {"analyze", At("t.ktb")},
      {"batch", "/do=删除重复", "/源码表文件=t.txt"},
      {"batch", "/do=提取单字编码", "/源码表文件=t.ktb"},
  };
  for (const char* order : {"source", "code1", "code2", "entry1", "entry2"}) {
    commands.push_back({"sort", At("t.txt"), "--by", order, "-o", At("o.txt")});
  }
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(::testing::PrintToString(command));
    EXPECT_EQ(Run(command), 0) << err_;
    EXPECT_EQ(FilesBelow(temp_.path()), std::vector<std::string>{});
  }
  // A failure on the way leaves nothing behind either.
  WriteBytes(dir_ / "bad.ktb", std::string(64, '\x01'));
  EXPECT_EQ(Run({"sort", At("bad.ktb"), "--by", "code1", "-o", At("o.txt")}), 1);
  EXPECT_EQ(FilesBelow(temp_.path()), std::vector<std::string>{});
}

// A table in a scratch folder, and a temporary folder of its own to watch.
class StoreFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Result<std::unique_ptr<TempFolder>> made = TempFolder::OpenIn(base.path());
    ASSERT_OK(made);
    temp = std::move(made).value();
  }
  ScratchDir dir, base;
  std::unique_ptr<TempFolder> temp;
};

TEST_F(StoreFilesTest, TheMemoryStoreFiltersAndEditsWithoutAFileAndSnapshotsOnlyWhenAsked) {
  WriteBytes(dir / "t.txt", test::Utf8(u"a\tx1\r\nb\tx2\r\nc\ty\r\n"));
  TableStore store(test::DiskFs(), *temp, nullptr, WorkingData::kMemory);
  ASSERT_OK(store.LoadTable(dir / "t.txt"));
  EXPECT_EQ(store.RowCount(), 3u);
  EXPECT_EQ(store.VisibleRowCount(), 0u);  // nothing listed until a filter asks
  std::u16string text;
  EXPECT_FALSE(store.RowText(0, RowTextKind::kEntry, text));

  ASSERT_OK(store.ApplyFilter(u"x", false));
  EXPECT_EQ(store.VisibleRowCount(), 2u);
  // A longer row than the slot holds grows the memory behind the table.
  ASSERT_OK(store.RewriteRow(1, 1, u"x2", u"a much longer entry than before"));
  ASSERT_OK(store.InsertRows(3, {u"d\tx3"}));
  ASSERT_OK(store.ApplyFilter(u"x", false));
  EXPECT_EQ(store.VisibleRowCount(), 3u);
  ASSERT_TRUE(store.RowText(1, RowTextKind::kEntry, text));
  EXPECT_EQ(text, u"a much longer entry than before");
  ASSERT_OK(store.ApplyFilter(u"y", true));
  ASSERT_TRUE(store.RowText(0, RowTextKind::kEntry, text));
  EXPECT_EQ(text, u"c");
  EXPECT_EQ(FilesBelow(base.path()), std::vector<std::string>{});

  ASSERT_OK(store.WriteTableText(dir / "out.txt"));
  EXPECT_EQ(
      test::ReadBytes(dir / "out.txt"),
      test::TableBytes({u"a\tx1", u"a much longer entry than before\tx2", u"c\ty", u"d\tx3"}));
  EXPECT_EQ(FilesBelow(base.path()), std::vector<std::string>{});
}

TEST_F(StoreFilesTest, TheEditorsWorkingFilesGoWhenTheTableClosesAndWhenTheStoreEnds) {
  WriteBytes(dir / "t.txt", test::Utf8(u"a\tx1\r\nb\tx2\r\n"));
  {
    TableStore store(test::DiskFs(), *temp);
    ASSERT_OK(store.LoadTable(dir / "t.txt"));
    // A change makes the next filter take a fresh snapshot beside the old.
    ASSERT_OK(store.InsertRows(0, {u"c\tx3"}));
    ASSERT_OK(store.ApplyFilter(u"x", false));
    EXPECT_EQ(FilesBelow(base.path()).size(), 2u);  // the table and its filter snapshot
    store.CloseTable();
    EXPECT_EQ(FilesBelow(base.path()), std::vector<std::string>{});

    ASSERT_OK(store.LoadTable(dir / "t.txt"));
    ASSERT_OK(store.SaveTable(SaveMode::kSaveAs, dir / "copy.ktb.txt"));
    EXPECT_FALSE(FilesBelow(base.path()).empty());
  }
  // What the editor does on exit.
  EXPECT_EQ(FilesBelow(base.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace mirel
