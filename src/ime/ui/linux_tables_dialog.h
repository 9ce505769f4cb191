// The dialog of 文件 → 打开Linux输入法码表…: lists the tables of fcitx5, Rime
// and ibus-table found on this machine and hands back the one chosen. It
// borrows the file system and reads nothing but the folders it lists.
#pragma once

#include <QDialog>
#include <optional>
#include <vector>

#include "ime/linux_tables.h"
#include "platform/ui/ui_services.h"

class QTableWidget;

namespace mirel {

class LinuxTablesDialog : public QDialog {
  Q_OBJECT

 public:
  // Lists the tables; when there are none it says so and shows no dialog.
  static std::optional<LinuxTableInfo> Run(QWidget* parent, UiServices& services, FileSystem& fs,
                                           const LinuxEnvironment& env);

  LinuxTablesDialog(QWidget* parent, std::vector<LinuxTableInfo> tables);

  QTableWidget* tableList() const { return list_; }
  // The row chosen, when the dialog was accepted.
  std::optional<LinuxTableInfo> chosen() const;

 private:
  std::vector<LinuxTableInfo> tables_;
  QTableWidget* list_;
};

}  // namespace mirel
