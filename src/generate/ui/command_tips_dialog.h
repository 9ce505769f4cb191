// The dialog "Mirel编码提示码表生成工具": a tip code table, a tip content
// table, a prefix and a suffix; the result is written to the private
// temporary folder and opened with the shell.
#pragma once

#include <QDialog>

#include "generate/command_tips.h"
#include "platform/file_system.h"
#include "platform/temp_folder.h"
#include "platform/ui/ui_services.h"

class QLineEdit;

namespace mirel {

class CommandTipsDialog : public QDialog {
  Q_OBJECT

 public:
  CommandTipsDialog(QWidget* parent, UiServices& services, FileSystem& fs, const TempFolder& temp);

  QLineEdit* codeTableEdit() const { return codeTable_; }
  QLineEdit* contentTableEdit() const { return contentTable_; }
  QLineEdit* prefixEdit() const { return prefix_; }
  QLineEdit* suffixEdit() const { return suffix_; }
  // "生成".
  void Generate();

 private:
  UiServices& services_;
  FileSystem& fs_;
  const TempFolder& temp_;
  QLineEdit* codeTable_;
  QLineEdit* contentTable_;
  QLineEdit* prefix_;
  QLineEdit* suffix_;
};

}  // namespace mirel
