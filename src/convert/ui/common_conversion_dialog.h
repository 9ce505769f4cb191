// The dialog "常见码表格式互转": a source file (chosen or dropped), its format
// as detected or chosen, and one button per target format. The source text is
// read once when the file is chosen and kept while the dialog is open.
#pragma once

#include <QDialog>
#include <array>
#include <optional>
#include <string>

#include "convert/common_conversion.h"
#include "convert/linux_conversion.h"
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
  QRadioButton* sourceButton(TableFormat format) const { return sources_[Index(format)]; }
  QPushButton* targetButton(TableFormat format) const { return targets_[Index(format)]; }

  // Takes a file as the source, as browsing or dropping it does.
  void ChooseSource(const QString& path);
  // A target button.
  void Convert(TableFormat target);

  // The formats of the Linux input methods, in a group of their own.
  QRadioButton* linuxSourceButton(linux_table::LinuxFormat format) const {
    return linuxSources_[static_cast<int>(format)];
  }
  QPushButton* linuxTargetButton(linux_table::LinuxFormat format) const {
    return linuxTargets_[static_cast<int>(format)];
  }
  // A conversion with a Linux format on either side; rows left out are
  // listed in the message.
  void ConvertLinux(AnyFormat target);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  static int Index(TableFormat format) { return static_cast<int>(format) - 1; }
  void SelectSource(std::optional<TableFormat> format);
  void SelectAny(std::optional<AnyFormat> format);
  std::optional<AnyFormat> CheckedSource() const;

  UiServices& services_;
  FileSystem& fs_;
  const TempFolder& temp_;
  QLineEdit* path_;
  std::array<QRadioButton*, 6> sources_;
  std::array<QPushButton*, 6> targets_;
  std::array<QRadioButton*, 5> linuxSources_;
  std::array<QPushButton*, 5> linuxTargets_;
  std::u16string text_;
};

}  // namespace mirel
