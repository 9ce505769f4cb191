#include "app/table_editor.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/utf16.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using Lines = std::vector<std::u16string>;

class TableEditorTest : public test::StoreTest {
 protected:
  TableEditorTest() : editor_(*store_) {}

  void Open(std::u16string_view text) {
    test::WriteBytes(dir_ / "t.txt", test::Utf8(text));
    ASSERT_OK(editor_.Open(dir_ / "t.txt"));
  }
  // rK TAB code, with the codes a b c a b c ...
  void OpenLetters(int n) {
    std::u16string text;
    for (int k = 0; k < n; ++k) {
      text.append(u"r").append(Utf8ToUtf16(std::to_string(k))).append(u"\t");
      text.append(1, static_cast<char16_t>(u'a' + k % 3)).append(u"\r\n");
    }
    Open(text);
  }
  void Filter(std::u16string_view text = {}) { ASSERT_OK(store_->ApplyFilter(text, false)); }
  static RowSelection Select(std::vector<uint32_t> rows) { return RowSelection{rows, {}}; }
  // The entries of every row, in order, one space between.
  std::u16string Order() const {
    std::u16string entries;
    for (const std::u16string& row : Rows()) entries += row.substr(0, row.find(u'\t')) + u" ";
    return entries.substr(0, entries.size() - 1);
  }

  TableEditor editor_;
};

TEST_F(TableEditorTest, EveryKindOfChangeUndoesAndRedoesBackToTheSavedState) {
  Open(u"r0\tc\r\nr1\ta\r\nr2\tb\r\nr3\ta\r\nr4\tc\r\nr5\tb\r\n");
  test::WriteBytes(dir_ / "freq.txt", test::Utf8(u"r5\t1\r\nr3\t2\r\n"));
  std::vector<Lines> states{Rows()};
  auto step = [&](auto change) {
    change();
    Filter();
    states.push_back(Rows());
    EXPECT_TRUE(store_->dirty());
  };
  // An insert moves the text region (the offset table has no spare room);
  // slots taken before it must still find their texts.
  step([&] { ASSERT_OK(editor_.Insert(2, {u"新\tx", u"旧\ty"})); });
  step([&] { EXPECT_EQ(editor_.Modify(0, u"c", u"r"), 0); });              // in place, shorter
  step([&] { EXPECT_EQ(editor_.Modify(3, u"长长的编码", u"长词"), 0); });  // appended
  step([&] { EXPECT_EQ(editor_.MoveToTop(Select({4, 6})).rows, (std::vector<uint32_t>{0, 1})); });
  ASSERT_OK(editor_.Save(SaveMode::kSave));
  const std::string saved = test::ReadBytes(dir_ / "t.txt");
  const size_t savedAt = states.size() - 1;
  EXPECT_FALSE(store_->dirty());
  step([&] { EXPECT_EQ(editor_.Delete(std::vector<uint32_t>{1, 5}), 2u); });
  step([&] { editor_.Reorder(Ordering::kCode1); });
  step([&] { ASSERT_OK(editor_.SortByFrequency(dir_ / "freq.txt")); });
  step([&] { ASSERT_OK(editor_.Insert(0, {u"双\tsh", u"双\tsh", u"双\tsh"})); });
  step([&] { EXPECT_EQ(editor_.RemoveDuplicates(), 2u); });
  step([&] {
    Filter(u"c");
    EXPECT_EQ(editor_.MoveToEnd(Select({0})).rows, std::vector<uint32_t>{1});
  });

  // Each step is named for the undo and the redo alike, whichever side of
  // the change the table is on.
  using W = ChangeName::What;
  const std::vector<ChangeName> names = {
      {W::kInsert, Ordering::kSource, 2},           {W::kModify, Ordering::kSource, 0},
      {W::kModify, Ordering::kSource, 3},           {W::kMove, Ordering::kSource, 2},
      {W::kDelete, Ordering::kSource, 2},           {W::kReorder, Ordering::kCode1, 0},
      {W::kFrequencyOrder, Ordering::kSource, 0},   {W::kInsert, Ordering::kSource, 3},
      {W::kRemoveDuplicates, Ordering::kSource, 2}, {W::kMove, Ordering::kSource, 1}};
  ASSERT_EQ(names.size(), states.size() - 1);
  EXPECT_EQ(editor_.NextChange(true), std::nullopt);
  for (size_t k = states.size() - 1; k-- > 0;) {
    EXPECT_EQ(editor_.NextChange(false), names[k]) << k;
    ASSERT_OK(editor_.Undo());
    EXPECT_EQ(editor_.NextChange(true), names[k]) << k;
    Filter();
    EXPECT_EQ(Rows(), states[k]) << "after undoing back to state " << k;
    EXPECT_EQ(store_->dirty(), k != savedAt) << k;
  }
  EXPECT_FALSE(editor_.CanUndo());
  EXPECT_FALSE(editor_.Undo().IsOk());
  for (size_t k = 1; k < states.size(); ++k) {
    ASSERT_OK(editor_.Redo());
    Filter();
    EXPECT_EQ(Rows(), states[k]) << "after redoing state " << k;
    EXPECT_EQ(store_->dirty(), k != savedAt) << k;
  }
  EXPECT_FALSE(editor_.CanRedo());

  // A new change after undoing past the save: the saved state is gone for good.
  while (editor_.CanUndo()) ASSERT_OK(editor_.Undo());
  Filter();
  EXPECT_EQ(editor_.Delete(std::vector<uint32_t>{0}), 1u);
  Filter();
  EXPECT_FALSE(editor_.CanRedo());
  ASSERT_OK(editor_.Undo());
  EXPECT_TRUE(store_->dirty());
  EXPECT_EQ(test::ReadBytes(dir_ / "t.txt"), saved);
}

TEST_F(TableEditorTest, MovesCarryTheSelectionAndUndoUnderAFilter) {
  using Move = RowSelection (TableEditor::*)(const RowSelection&);
  struct Case {
    Move move;
    std::vector<uint32_t> selected;
    std::u16string_view order;
    RowSelection after;  // the focus on the last row moved
  };
  const Case cases[] = {
      {&TableEditor::MoveUp, {0, 3}, u"r0 r1 r3 r2 r4 r5 r6 r7", {{0, 2}, 2}},
      {&TableEditor::MoveToTop, {3, 5}, u"r5 r3 r0 r1 r2 r4 r6 r7", {{0, 1}, 1}},
      {&TableEditor::MoveToEnd, {2, 7}, u"r0 r1 r3 r4 r5 r6 r2 r7", {{6, 7}, 6}},
      {&TableEditor::MoveDown, {1, 2, 7}, u"r0 r3 r1 r2 r4 r5 r6 r7", {{2, 3, 7}, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.selected));
    OpenLetters(8);
    const RowSelection after = (editor_.*c.move)(Select(c.selected));
    EXPECT_EQ(Order(), c.order);
    EXPECT_EQ(after.rows, c.after.rows);
    EXPECT_EQ(after.current, c.after.current);
  }
  // Nothing to move: no undo step.
  OpenLetters(4);
  EXPECT_EQ(editor_.MoveUp(RowSelection{{0, 1}, 1}), (RowSelection{{0, 1}, 1}));
  EXPECT_FALSE(editor_.CanUndo());

  // Under a filter the hidden rows between move along, and come back.
  OpenLetters(8);
  Filter(u"b");  // r1 r4 r7
  editor_.MoveToTop(Select({2}));
  EXPECT_EQ(Order(), u"r0 r7 r1 r2 r3 r4 r5 r6");
  editor_.MoveDown(Select({0}));
  EXPECT_EQ(Order(), u"r0 r1 r7 r2 r3 r4 r5 r6");
  ASSERT_OK(editor_.Undo());
  ASSERT_OK(editor_.Undo());
  EXPECT_EQ(Order(), u"r0 r1 r2 r3 r4 r5 r6 r7");
  EXPECT_FALSE(store_->dirty());
}

TEST_F(TableEditorTest, DeleteUnderAFilterAndItsUndoPutRowsBackInPlace) {
  OpenLetters(12);
  Filter(u"a");                                                   // r0 r3 r6 r9
  EXPECT_EQ(editor_.Delete(std::vector<uint32_t>{1, 3, 7}), 2u);  // 7 is not a visible row
  EXPECT_EQ(Order(), u"r0 r1 r2 r4 r5 r6 r7 r8 r10 r11");
  ASSERT_OK(editor_.Undo());
  Filter();
  EXPECT_EQ(Order(), u"r0 r1 r2 r3 r4 r5 r6 r7 r8 r9 r10 r11");
  EXPECT_EQ(editor_.Delete(std::vector<uint32_t>{}), 0u);
}

TEST_F(TableEditorTest, RemoveDuplicatesKeepsThePresentOrderAndTheFirstCopy) {
  Open(u"x\ta\r\ny\tb\r\nx\ta\r\nz\tc\r\ny\tb\r\nx\ta#1\r\n");
  editor_.Reorder(Ordering::kCode1);  // x a, x a, x a#1, y b, y b, z c
  Filter();
  editor_.MoveToTop(Select({5}));  // z c first
  Filter();
  EXPECT_EQ(editor_.Modify(5, u"c", u"zz"), 0);  // the edited row keeps its place
  Filter();
  EXPECT_EQ(editor_.RemoveDuplicates(), 1u);
  EXPECT_EQ(Rows(), (Lines{u"z\tc", u"x\ta", u"x\ta#1", u"y\tb", u"zz\tc"}));
  EXPECT_EQ(editor_.RemoveDuplicates(), 0u);
  // The batch tool's clean-up still reads as before: source order, the
  // grown row last.
  EXPECT_EQ(store_->RemoveDuplicates(), 5u);
  EXPECT_EQ(Rows(), (Lines{u"x\ta", u"y\tb", u"z\tc", u"x\ta#1", u"zz\tc"}));
}

TEST_F(TableEditorTest, CopyTakesEverySelectedRowWhole) {
  std::u16string text;
  for (int k = 0; k < 2000; ++k) {
    text.append(u"词").append(Utf8ToUtf16(std::to_string(k))).append(u"\tcode\r\n");
  }
  text.append(300, u'长').append(u"\tx\ty\r\n");
  Open(text);
  std::vector<uint32_t> all(store_->RowCount());
  for (uint32_t k = 0; k < all.size(); ++k) all[k] = k;
  const std::u16string copied = editor_.CopyText(all);
  EXPECT_EQ(std::count(copied.begin(), copied.end(), u'\n'), 2001);
  EXPECT_EQ(copied.substr(0, 18), u"code\t词0\r\ncode\t词1\r\n");
  std::u16string last(u"x\ty\t");
  last.append(300, u'长').append(u"\r\n");
  EXPECT_EQ(copied.substr(copied.size() - 306), last);
}

TEST_F(TableEditorTest, FindLooksInEntriesOfTheVisibleRowsAndWraps) {
  Open(u"中国\tzg\r\n国家\tgj\r\n中国人\tzgr\r\n人\tr\r\n中国\tzz\r\n");
  EXPECT_EQ(editor_.CountEntryMatches(u"国"), 4u);
  EXPECT_EQ(editor_.FindEntry(u"国", 0, true), 0u);
  EXPECT_EQ(editor_.FindEntry(u"国", 3, true), 4u);
  EXPECT_EQ(editor_.FindEntry(u"国家", 2, true), 1u);  // wraps around
  EXPECT_EQ(editor_.FindEntry(u"国", 3, false), 2u);
  EXPECT_EQ(editor_.FindEntry(u"gj", 0, true), std::nullopt);  // codes are not entries
  EXPECT_EQ(editor_.FindEntry(u"", 0, true), std::nullopt);
  Filter(u"z");  // 中国 中国人 中国
  EXPECT_EQ(editor_.CountEntryMatches(u"国"), 3u);
  EXPECT_EQ(editor_.FindEntry(u"人", 0, true), 1u);
  EXPECT_EQ(editor_.FindEntry(u"国", 2, true), 2u);
  EXPECT_EQ(editor_.FindEntry(u"国", 9, false), 2u);
  // Matches above a row, for "2/3" in the find bar.
  EXPECT_EQ(editor_.CountEntryMatches(u"国", 2), 2u);
  EXPECT_EQ(editor_.CountEntryMatches(u"人", 1), 0u);
  EXPECT_EQ(editor_.CountEntryMatches(u"国", 0), 0u);
  EXPECT_EQ(editor_.CountEntryMatches(u"\t", 3), 0u);
}

// Rows the filter hides are left out; the first one shown is current.
TEST_F(TableEditorTest, VisibleRowsMapsDataRowsThroughTheFilter) {
  OpenLetters(9);  // codes a b c a b c a b c
  Filter(u"b");    // data rows 1 4 7
  EXPECT_EQ(editor_.VisibleRows(3, 5), (RowSelection{{1, 2}, 1}));
  EXPECT_EQ(editor_.VisibleRows(5, 2), RowSelection{});
  EXPECT_EQ(editor_.VisibleRows(7, 100), (RowSelection{{2}, 2}));
  EXPECT_EQ(editor_.VisibleRows(0, 0xFFFFFFFFu), (RowSelection{{0, 1, 2}, 0}));
  Filter();
  EXPECT_EQ(editor_.VisibleRows(8, 1), (RowSelection{{8}, 8}));
}

TEST_F(TableEditorTest, FieldsWithTabsOrLineBreaksAreRefused) {
  EXPECT_FALSE(HoldsRowBreak(u"中国 人"));
  EXPECT_TRUE(HoldsRowBreak(u"甲\t乙"));
  EXPECT_TRUE(HoldsRowBreak(u"甲\r"));
  EXPECT_TRUE(HoldsRowBreak(u"\n"));
  EXPECT_TRUE(HoldsRowBreak(std::u16string_view(u"a\0b", 3)));
}

TEST_F(TableEditorTest, OpeningCountsTheLinesLeftOutAndKeepsTheTableOnFailure) {
  Open(u"# 码表\r\n\r\na\tb\r\nno tab\r\nc\td\r\n");
  EXPECT_EQ(editor_.linesLeftOut(), 2u);
  EXPECT_EQ(store_->encoding(), TextEncoding::kUtf8);
  EXPECT_EQ(editor_.Delete(std::vector<uint32_t>{0}), 1u);
  EXPECT_FALSE(editor_.Open(dir_ / "missing.txt").IsOk());
  EXPECT_TRUE(editor_.CanUndo());
  EXPECT_EQ(Rows(), (Lines{u"c\td"}));
  editor_.Close();
  EXPECT_FALSE(editor_.CanUndo());
  EXPECT_FALSE(store_->IsOpen());
}

}  // namespace
}  // namespace mirel
