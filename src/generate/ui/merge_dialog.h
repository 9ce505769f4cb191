// The dialog "码表合并": the six table paths as an editable settings text with
// a browse button per table, and the merge. The paths are settings the
// application owns; the dialog reads and writes them.
#pragma once

#include <QDialog>
#include <filesystem>

#include "generate/merge_tables.h"
#include "platform/file_system.h"
#include "platform/ui/ui_services.h"

class QPlainTextEdit;

namespace mirel {

class MergeDialog : public QDialog {
  Q_OBJECT

 public:
  // Relative paths are taken relative to `programFolder`.
  MergeDialog(QWidget* parent, UiServices& services, FileSystem& fs, MergeSettings& settings,
              std::filesystem::path programFolder);

  QPlainTextEdit* settingsBox() const { return box_; }
  // The button of table k (0 to 5).
  void Browse(int k);
  // "合并(&M)".
  void Merge();

 private:
  void ParseBox();

  UiServices& services_;
  FileSystem& fs_;
  MergeSettings& settings_;
  std::filesystem::path programFolder_;
  QPlainTextEdit* box_;
};

}  // namespace mirel
