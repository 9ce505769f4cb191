#include "app/ui/entry_list_model.h"

#include <QFontMetrics>
#include <QPainter>
#include <array>

#include "platform/utf16.h"

namespace mirel {
namespace {

struct Column {
  const char16_t* header;
  RowTextKind kind;
};
constexpr std::array<Column, 4> kColumns = {{{u"编码", RowTextKind::kCode},
                                             {u"词条", RowTextKind::kEntry},
                                             {u"筛选后序号", RowTextKind::kVisibleNumber},
                                             {u"码表原序号", RowTextKind::kDataNumber}}};

}  // namespace

void EntryListModel::SetItemCount(int count) {
  beginResetModel();
  count_ = count;
  endResetModel();
}

void EntryListModel::RowsChanged(int first, int last) {
  if (count_ == 0) return;
  emit dataChanged(index(first, 0), index(last, columnCount() - 1), {Qt::DisplayRole});
}

int EntryListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : count_;
}

int EntryListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(kColumns.size());
}

QVariant EntryListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count_) return {};
  if (role == Qt::TextAlignmentRole) {
    const bool number = index.column() >= 2;
    return QVariant::fromValue(Qt::Alignment(number ? Qt::AlignRight | Qt::AlignVCenter
                                                    : Qt::AlignLeft | Qt::AlignVCenter));
  }
  if (role != Qt::DisplayRole) return {};
  std::u16string text;
  store_.RowText(static_cast<uint32_t>(index.row()), kColumns[index.column()].kind, text);
  if (text.size() > kCellLimit) {
    // Cut before a character's second half, never between its halves.
    size_t keep = kCellLimit - 1;
    if (IsSurrogate(text[keep - 1]) && !IsLowSurrogate(text[keep - 1])) --keep;
    text.resize(keep);
    text += u'…';
  }
  return QString::fromStdU16String(text);
}

QVariant EntryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
      section >= static_cast<int>(kColumns.size())) {
    return {};
  }
  return QString::fromUtf16(kColumns[section].header);
}

void EntryCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  const bool selected = option.state & QStyle::State_Selected;
  const QPalette::ColorGroup group =
      option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
  if (selected) painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
  painter->setPen(
      option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
  painter->setFont(option.font);
  const QVariant alignment = index.data(Qt::TextAlignmentRole);
  const Qt::Alignment align =
      alignment.isValid() ? alignment.value<Qt::Alignment>() : Qt::AlignLeft | Qt::AlignVCenter;
  const QRect area = option.rect.adjusted(4, 0, -4, 0);
  // A text wider than its column ends in "…", so a cut never passes for the
  // whole code or entry.
  const QFontMetrics metrics(option.font);
  painter->drawText(
      area, static_cast<int>(align) | Qt::TextSingleLine,
      metrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, area.width()));
  if (option.state & QStyle::State_HasFocus) {
    painter->setPen(QPen(option.palette.color(group, QPalette::Text), 1, Qt::DotLine));
    painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
  }
}

}  // namespace mirel
