// The dialog "常见码表格式互转": a source file (chosen or dropped), its format
// as detected or chosen, and one button per target format. The source text is
// read once when the file is chosen and kept while the dialog is open.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "convert/table_formats.h"
#include "platform/file_system.h"
#include "platform/temp_folder.h"
#include "platform/ui/ui_services.h"

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace mirel {

class CommonConversionDialog : public QDialog {
  Q_OBJECT

 public:
  CommonConversionDialog(QWidget* parent, UiServices& services, FileSystem& fs,
                         const TempFolder& temp);

  QLineEdit* pathEdit() const { return path_; }
  // The buttons of a format: the line formats in one group, the Linux input
  // methods' formats in another.
  QRadioButton* sourceButton(const FileFormat& format) const { return sources_[Index(format)]; }
  QPushButton* targetButton(const FileFormat& format) const { return targets_[Index(format)]; }

  // Takes a file as the source, as browsing or dropping it does.
  void ChooseSource(const QString& path);
  // A target button. Rows a Linux target cannot hold are asked about before
  // anything is written and listed in the message.
  void Convert(const FileFormat& target);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  static size_t Index(const FileFormat& format);
  void SelectSource(const FileFormat* format);
  const FileFormat* CheckedSource() const;

  UiServices& services_;
  FileSystem& fs_;
  const TempFolder& temp_;
  QLineEdit* path_;
  // In registry order.
  std::vector<QRadioButton*> sources_;
  std::vector<QPushButton*> targets_;
  std::u16string text_;
};

}  // namespace mirel
