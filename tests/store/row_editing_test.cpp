#include <filesystem>

#include "support/test_support.h"

namespace mirel {
namespace {

using Lines = std::vector<std::u16string>;

class RowEditingTest : public test::StoreTest {
 protected:
  uint64_t DataSize() const { return std::filesystem::file_size(temp_->TempPath(kDataFileName)); }
  void LoadSix() { ASSERT_OK(Load(u"r0\ta\r\nr1\tx\r\nr2\tb\r\nr3\tc\r\nr4\tx\r\nr5\td\r\n")); }
};

TEST_F(RowEditingTest, ModifyRewritesInPlaceOrAppendsWhenTheTextGrows) {
  ASSERT_OK(Load(u"a\tb\r\nc\td\r\n"));
  const uint64_t size = DataSize();
  EXPECT_EQ(store_->ModifyRow(0, 0, u"y", u"x"), 0);
  EXPECT_EQ(DataSize(), size);
  EXPECT_TRUE(store_->dirty());
  // The list shows the new text once the filter has run again.
  ASSERT_OK(store_->ApplyFilter(u"y", false));
  EXPECT_EQ(Visible(), (Lines{u"x"}));
  ASSERT_OK(store_->ApplyFilter(u"", false));
  EXPECT_EQ(store_->ModifyRow(0, 0, u"uvw", u"xyz"), 0);
  EXPECT_EQ(DataSize(), size + 16);  // room for 8 units, twice over in bytes
  EXPECT_EQ(store_->RowCount(), 2u);
  EXPECT_EQ(Rows(), (Lines{u"xyz\tuvw", u"c\td"}));
  // The grown row now sits at the end of the file, so source order puts it last.
  store_->SortBySource();
  EXPECT_EQ(Rows(), (Lines{u"c\td", u"xyz\tuvw"}));
  ASSERT_OK(store_->ApplyFilter(u"", false));
  EXPECT_EQ(Visible(), (Lines{u"c", u"xyz"}));
  // Shrinking reuses the slot.
  EXPECT_EQ(store_->ModifyRow(1, 1, u"", u"q"), 0);
  EXPECT_EQ(Rows(), (Lines{u"c\td", u"q\t"}));
  EXPECT_EQ(store_->ModifyRow(5, 1, u"a", u"b"), 1);
}

TEST_F(RowEditingTest, DeleteRemovesTheRowTheUserSees) {
  LoadSix();
  store_->ClearDirty();
  EXPECT_EQ(store_->DeleteRow(9), 1);
  EXPECT_FALSE(store_->dirty());
  EXPECT_EQ(store_->DeleteRow(5), 1);
  EXPECT_EQ(store_->RowCount(), 5u);
  EXPECT_TRUE(store_->dirty());
  // Deleting the selected visible rows from the last to the first.
  ASSERT_OK(store_->ApplyFilter(u"x", true));
  for (uint32_t v = store_->VisibleRowCount(); v-- > 0;) store_->DeleteRow(store_->DataRowOf(v));
  EXPECT_EQ(Rows(), (Lines{u"r0\ta", u"r2\tb", u"r3\tc"}));
}

TEST_F(RowEditingTest, MovesWithoutAFilterRotateTheTable) {
  ASSERT_OK(Load(u"A\t1\r\nB\t2\r\nC\t3\r\nD\t4\r\n"));
  store_->MoveRowLater(0, 2);
  EXPECT_EQ(Rows(), (Lines{u"B\t2", u"C\t3", u"A\t1", u"D\t4"}));
  EXPECT_EQ(RowMap(), (std::vector<uint32_t>{0, 1, 2, 3}));
  store_->MoveRowEarlier(3, 0);
  EXPECT_EQ(Rows(), (Lines{u"D\t4", u"B\t2", u"C\t3", u"A\t1"}));
  store_->ClearDirty();
  store_->MoveRowLater(2, 2);
  store_->MoveRowLater(1, 4);
  store_->MoveRowEarlier(0, 1);
  EXPECT_FALSE(store_->dirty());
  EXPECT_EQ(Rows(), (Lines{u"D\t4", u"B\t2", u"C\t3", u"A\t1"}));
}

TEST_F(RowEditingTest, MovesUnderAFilterCarryHiddenRowsAlong) {
  LoadSix();
  ASSERT_OK(store_->ApplyFilter(u"x", false));
  store_->MoveRowLater(0, 1);
  EXPECT_EQ(Rows(), (Lines{u"r0\ta", u"r2\tb", u"r3\tc", u"r4\tx", u"r1\tx", u"r5\td"}));
  EXPECT_EQ(Visible(), (Lines{u"r4", u"r1"}));
  EXPECT_EQ(RowMap(), (std::vector<uint32_t>{3, 4}));
  // Deleting after a move removes the row shown at that place.
  store_->DeleteRow(store_->DataRowOf(1));
  EXPECT_EQ(Rows(), (Lines{u"r0\ta", u"r2\tb", u"r3\tc", u"r4\tx", u"r5\td"}));

  LoadSix();
  ASSERT_OK(store_->ApplyFilter(u"x", false));
  store_->MoveRowEarlier(1, 0);
  EXPECT_EQ(Rows(), (Lines{u"r0\ta", u"r4\tx", u"r1\tx", u"r2\tb", u"r3\tc", u"r5\td"}));
  EXPECT_EQ(Visible(), (Lines{u"r4", u"r1"}));
  EXPECT_EQ(RowMap(), (std::vector<uint32_t>{1, 2}));
  // A fresh filter agrees with what the move maintained.
  ASSERT_OK(store_->ApplyFilter(u"x", false));
  EXPECT_EQ(Visible(), (Lines{u"r4", u"r1"}));
  EXPECT_EQ(RowMap(), (std::vector<uint32_t>{1, 2}));
}

TEST_F(RowEditingTest, InsertsAfterARowOrAtTheEndAndGrowsTheOffsetTable) {
  ASSERT_OK(Load(u"a\t1\r\nb\t2\r\nc\t3\r\n"));
  store_->ClearDirty();
  ASSERT_OK(store_->InsertRows(1, {u"x\tnew"}));
  EXPECT_TRUE(store_->dirty());
  EXPECT_EQ(Rows(), (Lines{u"a\t1", u"x\tnew", u"b\t2", u"c\t3"}));
  // Inserted rows count as edited rows: source order puts them last.
  store_->SortBySource();
  EXPECT_EQ(Rows().back(), u"x\tnew");
  // Many more rows than the table ever had: the text region moves up.
  std::vector<std::u16string> many;
  for (int k = 0; k < 5000; ++k) {
    std::u16string row = u"w";
    row.append(1, char16_t(0x4E00 + k)).append(u"\tz");
    many.push_back(row);
  }
  ASSERT_OK(store_->InsertRows(store_->RowCount(), many));
  ASSERT_EQ(store_->RowCount(), 5004u);
  EXPECT_EQ(Rows()[0], u"a\t1");
  EXPECT_EQ(Rows()[3], u"x\tnew");
  EXPECT_EQ(Rows()[5003], many.back());
  ASSERT_OK(store_->ApplyFilter(u"ne", false));
  EXPECT_EQ(Visible(), (Lines{u"x"}));
  EXPECT_FALSE(store_->InsertRows(0, {u"no tab"}).IsOk());
  EXPECT_FALSE(store_->InsertRows(99999, {u"a\tb"}).IsOk());
  ASSERT_OK(store_->SaveTable(SaveMode::kSaveAs, dir_ / "out.txt"));
  ASSERT_OK(store_->LoadTable(dir_ / "out.txt"));
  EXPECT_EQ(store_->RowCount(), 5004u);

  test::WriteBytes(dir_ / "more.txt", test::Utf8(u"# header\np\tq\nr\ts\n"));
  auto rows = TableStore::ReadRows(test::DiskFs(), dir_ / "more.txt");
  ASSERT_OK(rows);
  EXPECT_EQ(rows.value(), (Lines{u"p\tq", u"r\ts"}));
}

}  // namespace
}  // namespace mirel
