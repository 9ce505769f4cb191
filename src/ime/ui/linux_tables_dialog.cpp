#include "ime/ui/linux_tables_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace mirel {

std::optional<LinuxTableInfo> LinuxTablesDialog::Run(QWidget* parent, UiServices& services,
                                                     FileSystem& fs, const LinuxEnvironment& env) {
  Result<std::vector<LinuxTableInfo>> tables = ListLinuxTables(fs, env, false);
  if (!tables.IsOk() || tables->empty()) {
    services.ShowMessage(
        parent, QStringLiteral("没有找到fcitx5、Rime或ibus-table的码表。"),
        QStringLiteral("打开Linux输入法码表"), UiServices::Icon::kError,
        tables.IsOk() ? QString() : QString::fromStdString(tables.status().message()));
    return std::nullopt;
  }
  LinuxTablesDialog dialog(parent, std::move(tables).value());
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.chosen();
}

LinuxTablesDialog::LinuxTablesDialog(QWidget* parent, std::vector<LinuxTableInfo> tables)
    : QDialog(parent), tables_(std::move(tables)) {
  setObjectName(QStringLiteral("linuxTablesDialog"));
  setWindowTitle(QStringLiteral("打开Linux输入法码表"));
  list_ = new QTableWidget(static_cast<int>(tables_.size()), 4, this);
  list_->setObjectName(QStringLiteral("tableList"));
  list_->setHorizontalHeaderLabels({QStringLiteral("名称"), QStringLiteral("格式"),
                                    QStringLiteral("副本"), QStringLiteral("路径")});
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->verticalHeader()->hide();
  list_->horizontalHeader()->setStretchLastSection(true);
  for (int r = 0; r < static_cast<int>(tables_.size()); ++r) {
    const LinuxTableInfo& t = tables_[r];
    const QString copy = t.overrides ? QStringLiteral("用户副本（覆盖系统码表）")
                         : t.user    ? QStringLiteral("用户副本")
                                     : QStringLiteral("系统码表");
    list_->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(t.name)));
    list_->setItem(r, 1,
                   new QTableWidgetItem(QString::fromUtf16(
                       linux_table::InfoOf(t.format).label.data(),
                       static_cast<qsizetype>(linux_table::InfoOf(t.format).label.size()))));
    list_->setItem(r, 2, new QTableWidgetItem(copy));
    list_->setItem(r, 3, new QTableWidgetItem(QString::fromStdString(t.path.string())));
  }
  list_->resizeColumnsToContents();
  if (!tables_.empty()) list_->selectRow(0);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QTableWidget::cellDoubleClicked, this, &QDialog::accept);
  auto* column = new QVBoxLayout(this);
  column->addWidget(
      new QLabel(QStringLiteral("保存时写入输入法的用户码表，系统码表不会被改动。"), this));
  column->addWidget(list_, 1);
  column->addWidget(buttons);
  resize(760, 420);
}

std::optional<LinuxTableInfo> LinuxTablesDialog::chosen() const {
  const int row = list_->currentRow();
  if (row < 0 || row >= static_cast<int>(tables_.size())) return std::nullopt;
  return tables_[row];
}

}  // namespace mirel
