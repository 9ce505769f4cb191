#include "store/undo_history.h"

#include "support/test_support.h"

namespace mirel {
namespace {

using Lines = std::vector<std::u16string>;

using UndoHistoryTest = test::StoreTest;

TEST_F(UndoHistoryTest, RowsAreNeverPutWhereTheOffsetTableHasNoRoom) {
  ASSERT_OK(Load(u"a\t1\r\nb\t2\r\n"));
  const std::vector<uint32_t> slots = store_->RowSlots();
  const std::vector<uint32_t> three = {slots[0], slots[1], slots[0]};
  EXPECT_FALSE(store_->SetRowSlots(three).IsOk());
  EXPECT_FALSE(store_->PutRows(std::vector<uint32_t>{2}, std::vector<uint32_t>{slots[0]}).IsOk());
  EXPECT_FALSE(store_->PutRows(std::vector<uint32_t>{0, 1}, std::vector<uint32_t>{0}).IsOk());
  EXPECT_FALSE(store_->SetRowText(5, slots[0], u"x\ty").IsOk());
  // A text longer than the file holds is refused too.
  EXPECT_FALSE(store_->SetRowText(0, slots[1], std::u16string(100, u'x')).IsOk());
  EXPECT_EQ(Rows(), (Lines{u"a\t1", u"b\t2"}));
  // Taken rows go back where they stood.
  store_->TakeRows(std::vector<uint32_t>{0});
  ASSERT_OK(store_->PutRows(std::vector<uint32_t>{0}, std::vector<uint32_t>{slots[0]}));
  EXPECT_EQ(Rows(), (Lines{u"a\t1", u"b\t2"}));
}

TEST_F(UndoHistoryTest, DroppingTheOldestStepsForgetsASavedStateAmongThem) {
  ASSERT_OK(Load(u"b\t2\r\na\t1\r\nc\t0\r\n"));
  UndoHistory history(*store_);
  UndoStep step;
  step.kind = UndoStep::Kind::kOrder;
  step.rowSlots = store_->RowSlots();
  store_->SortByEntry(1);
  history.Push(std::move(step));
  EXPECT_TRUE(history.DropOldest());
  EXPECT_FALSE(history.CanUndo());
  EXPECT_FALSE(history.AtSavedState());
}

}  // namespace
}  // namespace mirel
