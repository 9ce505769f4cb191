// The 表头 dialog: the header of a Linux input method's table (fcitx5's
// settings and [Rule] lines, Rime's YAML document, ibus-table's definition
// block) as editable text. "确定" checks the text with the format's own
// parser and keeps the dialog open, with the reason, until it passes; a
// header that passes is then offered to `confirm`, which may keep the
// dialog open too (the rows the header would cost).
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "convert/linux_formats.h"
#include "platform/ui/ui_services.h"
#include "store/save_check.h"

class QPlainTextEdit;

namespace mirel {

class LinuxHeaderDialog : public QDialog {
  Q_OBJECT

 public:
  // True to accept a valid header; the dialog is the parent of any question.
  using ConfirmRows = std::function<bool(QWidget* dialog, const std::string& header)>;

  // The edited header, or nullopt when cancelled.
  static std::optional<std::string> Run(QWidget* parent, UiServices& services,
                                        linux_table::LinuxFormat format, const std::string& header,
                                        ConfirmRows confirm = {});

  LinuxHeaderDialog(QWidget* parent, UiServices& services, linux_table::LinuxFormat format,
                    const std::string& header, ConfirmRows confirm = {});

  QPlainTextEdit* editor() const { return editor_; }
  const std::string& header() const { return header_; }
  // "确定": accepts when the text is a valid header and `confirm` agrees.
  void Confirm();

 private:
  UiServices& services_;
  linux_table::LinuxFormat format_;
  ConfirmRows confirm_;
  QPlainTextEdit* editor_;
  std::string header_;
};

// The rows and lines of a check, one line each, for ConfirmChanges.
QStringList SaveCheckItems(const SaveCheck& check);

}  // namespace mirel
