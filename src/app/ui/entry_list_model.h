// The entry list's model: it holds no rows, only an item count, and asks the
// TableStore for each cell it is asked to show. The count is set to 0 while a
// command changes the table and to the filtered row count afterwards, so the
// view never asks for a row the store no longer has.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

#include "store/table_store.h"

namespace mirel {

class EntryListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Longer cells are cut to this many units, the last of them "…".
  static constexpr int kCellLimit = 127;

  explicit EntryListModel(const TableStore& store, QObject* parent = nullptr)
      : QAbstractTableModel(parent), store_(store) {}

  void SetItemCount(int count);
  int itemCount() const { return count_; }
  // Repaints rows first..last.
  void RowsChanged(int first, int last);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const TableStore& store_;
  int count_ = 0;
};

// Paints a cell as plain text on the selection colours: the list repaints a
// screenful on every filter keystroke, and the style's full item painting
// costs several times the text itself.
class EntryCellDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};

}  // namespace mirel
