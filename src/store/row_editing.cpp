#include <algorithm>
#include <cstring>
#include <new>

#include "platform/messages.h"
#include "store/table_store.h"

namespace mirel {
namespace {

void WriteRow(char16_t* slot, std::u16string_view entry, std::u16string_view code) {
  std::copy(entry.begin(), entry.end(), slot);
  slot += entry.size();
  *slot++ = u'\t';
  std::copy(code.begin(), code.end(), slot);
  slot[code.size()] = 0;
}

}  // namespace

int TableStore::ModifyRow(uint32_t v, uint32_t i, std::u16string_view code,
                          std::u16string_view entry) {
  return RewriteRow(v, i, code, entry).IsOk() ? 0 : 1;
}

Status TableStore::RewriteRow(uint32_t v, uint32_t i, std::u16string_view code,
                              std::u16string_view entry) {
  if (v >= VisibleRowCount() || i >= RowCount()) {
    return Status::InvalidArgument("", Tr("row {1} is not in the table", v + 1));
  }
  // The row's present slot, measured in the filter snapshot.
  const uint32_t snapshotOffset = FilterOffsets()[v];
  const char16_t* end = reinterpret_cast<const char16_t*>(filter_->view() + filter_->size());
  const char16_t* p = FilterUnits(snapshotOffset);
  size_t textLength = 0;
  while (p + textLength < end && p[textLength] != 0) ++textLength;
  const uint64_t have = textLength + 1;
  const uint64_t need = code.size() + entry.size() + 2;

  if (have < need) {
    const uint64_t e = data_->size();
    const uint64_t grown = e + 2 * need;
    if (grown >= 0xFFFFFFFFull) return Status::Unsupported("", Tr("the table would exceed 4 GiB"));
    if (Status resized = data_->Resize(static_cast<uint32_t>(grown)); !resized.IsOk()) {
      return resized;
    }
    WriteRow(reinterpret_cast<char16_t*>(data_->view() + e), entry, code);
    DataOffsets()[i] = static_cast<uint32_t>(e);
  } else {
    WriteRow(const_cast<char16_t*>(DataUnits(DataOffsets()[i])), entry, code);
  }
  textChanged_ = true;
  dirty_ = true;
  return Status::Ok();
}

int TableStore::DeleteRow(uint32_t i) {
  const uint32_t r = RowCount();
  if (i >= r) return 1;
  uint32_t* offsets = DataOffsets();
  std::memmove(offsets + i, offsets + i + 1, sizeof(uint32_t) * (r - 1 - i));
  const uint32_t lowered = r - 1;
  std::memcpy(data_->view(), &lowered, 4);
  dirty_ = true;
  return 1;
}

void TableStore::MoveRowLater(uint32_t from, uint32_t to) {
  if (!(from < to && to < VisibleRowCount()) || RowCount() == 0) return;
  uint32_t* visible = FilterOffsets();
  std::rotate(visible + from, visible + from + 1, visible + to + 1);
  const uint32_t a = RowMapAt(from);
  const uint32_t b = RowMapAt(to);
  uint32_t* offsets = DataOffsets();
  std::rotate(offsets + a, offsets + a + 1, offsets + b + 1);
  for (uint32_t k = from; k < to; ++k) SetRowMapAt(k, RowMapAt(k + 1) - 1);
  SetRowMapAt(to, b);
  dirty_ = true;
}

void TableStore::MoveRowEarlier(uint32_t from, uint32_t to) {
  if (!(to < from && from < VisibleRowCount()) || RowCount() == 0) return;
  uint32_t* visible = FilterOffsets();
  std::rotate(visible + to, visible + from, visible + from + 1);
  const uint32_t a = RowMapAt(to);
  const uint32_t b = RowMapAt(from);
  uint32_t* offsets = DataOffsets();
  std::rotate(offsets + a, offsets + b, offsets + b + 1);
  for (uint32_t k = from; k > to; --k) SetRowMapAt(k, RowMapAt(k - 1) + 1);
  SetRowMapAt(to, a);
  dirty_ = true;
}

Status TableStore::InsertRows(uint32_t position, const std::vector<std::u16string>& rows) try {
  const uint32_t r = RowCount();
  if (!data_ || !data_->view()) return Status::InvalidArgument("", Tr("no table is open"));
  if (position > r) return Status::InvalidArgument("", Tr("row position out of range"));
  uint64_t textBytes = 0;
  for (const std::u16string& row : rows) {
    if (row.find(u'\t') == std::u16string::npos || row.find(u'\0') != std::u16string::npos) {
      return Status::InvalidArgument("", Tr("a row must hold a TAB between entry and code"));
    }
    textBytes += 2 * (row.size() + 1);
  }
  if (rows.empty()) return Status::Ok();
  // Deletions leave room in the offset table; otherwise the text region
  // moves up to make some, and every offset with it.
  const uint64_t needed = 4 + 4 * (uint64_t{r} + rows.size());
  const uint64_t shift =
      needed > textBase_ ? ((needed - textBase_ + 4 * (r / 8) + 4096) & ~uint64_t{3}) : 0;
  const uint64_t oldSize = data_->size();
  const uint64_t newSize = oldSize + shift + textBytes;
  if (newSize >= 0xFFFFFFFFull) return Status::Unsupported("", Tr("the table would exceed 4 GiB"));
  if (Status grown = data_->Resize(static_cast<uint32_t>(newSize)); !grown.IsOk()) return grown;
  std::byte* view = data_->view();
  uint32_t* offsets = DataOffsets();
  if (shift > 0) {
    std::memmove(view + textBase_ + shift, view + textBase_, oldSize - textBase_);
    std::memset(view + textBase_, 0, shift);
    for (uint32_t k = 0; k < r; ++k) offsets[k] += static_cast<uint32_t>(shift);
    textBase_ += static_cast<uint32_t>(shift);
  }
  std::memmove(offsets + position + rows.size(), offsets + position, 4 * size_t{r - position});
  uint64_t at = oldSize + shift;
  for (size_t k = 0; k < rows.size(); ++k) {
    std::memcpy(view + at, rows[k].data(), 2 * rows[k].size());
    std::memset(view + at + 2 * rows[k].size(), 0, 2);
    offsets[position + k] = static_cast<uint32_t>(at);
    at += 2 * (rows[k].size() + 1);
  }
  const uint32_t count = r + static_cast<uint32_t>(rows.size());
  std::memcpy(view, &count, 4);
  textChanged_ = true;
  dirty_ = true;
  return Status::Ok();
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

}  // namespace mirel
