#include "store/table_store.h"

#include "platform/temp_folder.h"
#include "store/save_check.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::ReadBytes;
using test::TableBytes;
using test::Utf16Le;

using TableStoreTest = test::StoreTest;

TEST_F(TableStoreTest, RowsAreLinesWithATabWhateverTheLineEnds) {
  ASSERT_OK(LoadBytes(Utf16Le(u"a\tb\r\nc\r\nd\te")));
  EXPECT_EQ(Rows(), (std::vector<std::u16string>{u"a\tb", u"d\te"}));

  // Lone LF and lone CR end lines too, and no unit after a lone CR is lost.
  ASSERT_OK(Load(u"a\tb\nc\td\re\tf\r\n\r\n# comment\ng\th\ti"));
  EXPECT_EQ(Rows(), (std::vector<std::u16string>{u"a\tb", u"c\td", u"e\tf", u"g\th\ti"}));
  EXPECT_EQ(Visible(RowTextKind::kEntry), (std::vector<std::u16string>{u"a", u"c", u"e", u"g"}));
  EXPECT_EQ(Visible(RowTextKind::kCode), (std::vector<std::u16string>{u"b", u"d", u"f", u"h\ti"}));

  // A NUL inside the text ends a line rather than hiding the rest of it.
  ASSERT_OK(LoadBytes(Utf16Le(std::u16string(u"x\ty\0p\tq\r\n", 9))));
  EXPECT_EQ(Rows(), (std::vector<std::u16string>{u"x\ty", u"p\tq"}));
}

TEST_F(TableStoreTest, EmptyFilesOpenWithNoRowsAndTextsWithoutRowsAreRefused) {
  for (std::string bytes : {std::string(), std::string("\xFF\xFE"), std::string("\r\n \r\n")}) {
    auto loaded = LoadBytes(bytes);
    ASSERT_OK(loaded);
    EXPECT_EQ(loaded.value(), 0u);
    EXPECT_TRUE(store_->IsOpen());
    EXPECT_EQ(store_->VisibleRowCount(), 0u);
    EXPECT_TRUE(store_->linesWithoutTab().empty());
  }
  ASSERT_OK(store_->SaveTable(SaveMode::kSaveAs, dir_ / "out.txt"));
  EXPECT_EQ(ReadBytes(dir_ / "out.txt"), "\xFF\xFE");

  // Lines with text but without a TAB are counted with their numbers.
  ASSERT_OK(Load(u"a\tb\r\nno tab\r\n\r\n1\n2\r3\r\n4\r\n5\r\nc\td\r\n6"));
  EXPECT_EQ(Rows(), (std::vector<std::u16string>{u"a\tb", u"c\td"}));
  EXPECT_EQ(store_->linesWithoutTab().Describe(),
            "7 lines without a TAB were left out (lines 2, 4, 5, 6, 7, ...)");

  // A text none of whose lines holds a TAB, in any encoding, is no table: it
  // is refused and the open table stays.
  for (std::string bytes : {std::string("no tab here\r\n"), Utf16Le(u"三 \r\n四"),
                            std::string("\xFE\xFF\x4E\x09\x00\x0A")}) {
    const Result<uint32_t> loaded = LoadBytes(bytes);
    EXPECT_TRUE(test::Says(loaded, "no line holds a TAB"));
    EXPECT_TRUE(test::Says(loaded, "(line"));
    EXPECT_EQ(Rows(), (std::vector<std::u16string>{u"a\tb", u"c\td"}));
  }
  EXPECT_TRUE(test::Says(LoadBytes(Utf16Le(u"三 \r\n四")),
                         "2 lines without a TAB were left out (lines 1, 2)"));
}

// A tool's store decodes straight into its working memory; whatever the
// bytes, it must read them as the editor's store does, and keep editing and
// saving them alike.
TEST_F(TableStoreTest, ToolsReadEveryTextAsTheEditorDoes) {
  // Large enough to be decoded and split on two cores.
  std::u16string large;
  for (int k = 0; k < 700000; ++k) {
    const std::u16string code(1 + k % 5, static_cast<char16_t>(u'a' + k % 26));
    if (k % 1000 == 7) {
      large += u"no tab\r\n";
      continue;
    }
    large.append(u"词").append(code, 0, k % 2).append(u"\t").append(code, k % 2).append(u"\r\n");
  }
  const std::string utf8Large = test::Utf8(large);
  const std::vector<std::string> cases = {
      test::Utf8(u"a\tb\nc\td\re\tf\r\n\r\n# comment\ng\th\ti\t\tj"),
      "\xEF\xBB\xBF" + test::Utf8(u"工\ta\r\n\xFEFF\r\n戈\tb"),
      Utf16Le(std::u16string(u"x\ty\0p\tq\r\nno tab\r\n\U00020000\tz", 21)),
      std::string("\xFE\xFF\x4E\x00\x00\x09\x00\x61", 8),
      "\xB9\xA4\ta\r\n\xB8\xEA\tb\r\n",  // the legacy code page
      "a\tb\xFF\r\nc\td\r\n",            // ill-formed, yet UTF-8 at first sight
      std::string("a\tb\0c\r\nd\0\te\n", 12),
      std::string(100000, '\t') + "\r\n\x01\x0B\ta\x0C\r" + std::string(20, '\t'),
      utf8Large,
      utf8Large.substr(0, utf8Large.size() / 2) + '\0' + utf8Large.substr(utf8Large.size() / 2),
  };
  Result<std::unique_ptr<TempFolder>> temp = TempFolder::OpenIn(dir_.path());
  ASSERT_OK(temp);
  for (size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(k);
    TableStore tool(fs_, *temp.value(), nullptr, WorkingData::kMemory);
    ASSERT_OK(LoadBytes(cases[k]));
    Result<uint32_t> loaded = tool.LoadTable(dir_ / "table.txt");
    ASSERT_OK(loaded);
    EXPECT_EQ(loaded.value(), store_->RowCount());
    EXPECT_EQ(tool.encoding(), store_->encoding());
    EXPECT_EQ(tool.linesWithoutTab().Describe(), store_->linesWithoutTab().Describe());
    EXPECT_EQ(tool.linesWithoutTab().texts(), store_->linesWithoutTab().texts());
    for (TableStore* s : {store_.get(), &tool}) {
      ASSERT_OK(s->InsertRows(0, {u"新\tx"}));
      s->SortByCode(2);
    }
    ASSERT_OK(tool.SaveTable(SaveMode::kSaveAs, dir_ / "tool.txt"));
    ASSERT_OK(store_->SaveTable(SaveMode::kSaveAs, dir_ / "editor.txt"));
    EXPECT_EQ(ReadBytes(dir_ / "tool.txt"), ReadBytes(dir_ / "editor.txt"));
  }
}

TEST_F(TableStoreTest, FilterIsACaseSensitivePrefixOrExactMatchOnTheCode) {
  ASSERT_OK(Load(u"1\tab\r\n2\tabc\r\n3\ta\r\n4\tba\r\n5\tabz\r\n6\tAB\r\n"));
  ASSERT_OK(store_->ApplyFilter(u"ab", false));
  EXPECT_EQ(Visible(), (std::vector<std::u16string>{u"1", u"2", u"5"}));
  EXPECT_EQ(Visible(RowTextKind::kDataNumber), (std::vector<std::u16string>{u"1", u"2", u"5"}));
  EXPECT_EQ(Visible(RowTextKind::kVisibleNumber), (std::vector<std::u16string>{u"1", u"2", u"3"}));
  ASSERT_OK(store_->ApplyFilter(u"ab", true));
  EXPECT_EQ(Visible(), (std::vector<std::u16string>{u"1"}));
  ASSERT_OK(store_->ApplyFilter(u"AB", false));
  EXPECT_EQ(Visible(), (std::vector<std::u16string>{u"6"}));
  ASSERT_OK(store_->ApplyFilter(u"zzz", false));
  EXPECT_EQ(store_->VisibleRowCount(), 0u);
  std::u16string out = u"stale";
  EXPECT_FALSE(store_->RowText(0, RowTextKind::kEntry, out));
  EXPECT_EQ(out, u"");
  auto all = store_->ApplyFilter(u"", false);
  ASSERT_OK(all);
  EXPECT_EQ(all.value(), 6u);
  EXPECT_EQ(RowMap(), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
}

TEST_F(TableStoreTest, FilterFollowsEveryChangeToTheTable) {
  ASSERT_OK(Load(u"1\tb\r\n2\ta\r\n3\tab\r\n4\tc\r\n"));
  ASSERT_OK(store_->ApplyFilter(u"a", false));
  store_->SortByCode(1);
  ASSERT_OK(store_->ApplyFilter(u"", false));
  EXPECT_EQ(Visible(), (std::vector<std::u16string>{u"2", u"3", u"1", u"4"}));
  ASSERT_OK(store_->ApplyFilter(u"a", false));
  EXPECT_EQ(Visible(), (std::vector<std::u16string>{u"2", u"3"}));
  store_->DeleteRow(store_->DataRowOf(0));
  ASSERT_OK(store_->ApplyFilter(u"", false));
  EXPECT_EQ(Visible(), (std::vector<std::u16string>{u"3", u"1", u"4"}));
  EXPECT_EQ(store_->DataRowOf(3), TableStore::kNoRow);
  EXPECT_EQ(store_->ModifyRow(1, 1, u"abc", u"long entry"), 0);
  ASSERT_OK(store_->ApplyFilter(u"ab", false));
  EXPECT_EQ(Visible(), (std::vector<std::u16string>{u"3", u"long entry"}));
}

TEST_F(TableStoreTest, RowTextCutsLongCellsButSavingKeepsThemWhole) {
  const std::u16string longEntry(10000, u'词');
  ASSERT_OK(Load(longEntry + u"\tcode\r\n"));
  std::u16string cell;
  ASSERT_TRUE(store_->RowText(0, RowTextKind::kEntry, cell));
  EXPECT_EQ(cell, longEntry.substr(0, 259));
  ASSERT_OK(store_->SaveTable(SaveMode::kSaveAs, dir_ / "out.txt"));
  EXPECT_EQ(ReadBytes(dir_ / "out.txt"), TableBytes({longEntry + u"\tcode"}));
}

TEST_F(TableStoreTest, RefusedOrUnreadableFilesLeaveTheOpenTableAlone) {
  ASSERT_OK(Load(u"a\tb\r\n"));
  test::WriteBytes(dir_ / "notes.doc", "a\tb");
  std::filesystem::create_directory(dir_ / "folder.txt");
  std::string damaged = test::CompiledBytes(u"中\tzh\r\n");
  damaged.pop_back();
  test::WriteBytes(dir_ / "damaged.ktb", damaged);
  test::WriteBytes(dir_ / "empty.ktb", "");
  for (const char* name :
       {"notes.doc", "missing.txt", "folder.txt", "damaged.ktb", "missing.ktb", "empty.ktb"}) {
    EXPECT_TRUE(test::Says(store_->LoadTable(dir_ / name), name));
  }
  EXPECT_EQ(store_->currentPath(), dir_ / "table.txt");
  EXPECT_FALSE(store_->fromCompiled());
  EXPECT_EQ(Rows(), (std::vector<std::u16string>{u"a\tb"}));

  // Upper-case extensions open like lower-case ones.
  test::WriteBytes(dir_ / "UPPER.TXT", "x\ty\r\n");
  ASSERT_OK(store_->LoadTable(dir_ / "UPPER.TXT"));
  EXPECT_EQ(Rows(), (std::vector<std::u16string>{u"x\ty"}));

  store_->CloseTable();
  EXPECT_FALSE(store_->IsOpen());
  EXPECT_EQ(store_->VisibleRowCount(), 0u);
  EXPECT_TRUE(store_->currentPath().empty());
}

// A save over the file it was read from says beforehand what it changes,
// and afterwards the table is what the file now holds.
TEST_F(TableStoreTest, SaveCheckNamesCommentsAndEncodingAndIsClearedBySaving) {
  ASSERT_OK(Load(u"# comment\n工\ta\n\nno tab here\n戈\tb\n"));
  SaveCheck check = CheckTextSave(*store_);
  ASSERT_TRUE(check.encodingFrom.has_value());
  EXPECT_EQ(*check.encodingFrom, TextEncoding::kUtf8);
  EXPECT_EQ(check.linesDropped, 2u);
  EXPECT_EQ(check.rowsDropped, 0u);
  ASSERT_EQ(check.findings.size(), 2u);
  EXPECT_EQ(check.findings[0].line, 1u);
  EXPECT_EQ(check.findings[0].text, "# comment");
  EXPECT_EQ(check.findings[1].line, 4u);

  // Save As leaves the open file as it was, so the question stays.
  ASSERT_OK(store_->SaveTable(SaveMode::kSaveAs, dir_ / "copy.txt"));
  EXPECT_FALSE(CheckTextSave(*store_).empty());

  ASSERT_OK(store_->SaveTable(SaveMode::kSave));
  EXPECT_EQ(store_->encoding(), TextEncoding::kUtf16Le);
  EXPECT_TRUE(store_->linesWithoutTab().empty());
  EXPECT_TRUE(CheckTextSave(*store_).empty());

  // A UTF-16LE table without such lines changes nothing.
  ASSERT_OK(LoadBytes(Utf16Le(u"a\tb\r\n")));
  EXPECT_TRUE(CheckTextSave(*store_).empty());
}

}  // namespace
}  // namespace mirel
