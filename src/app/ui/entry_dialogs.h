// The modify, add-entry and About dialogs of the editor. They gather input
// and call back into the window; messages go through UiServices.
#pragma once

#include <QDialog>
#include <QIcon>
#include <functional>

#include "platform/status.h"
#include "platform/ui/ui_services.h"

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace mirel {

// The program's icon, drawn rather than shipped as an image file.
QIcon ProgramIcon();

class ModifyDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kFieldLimit = 127;
  // `apply` changes the row and returns 0, or 1 when the table could not be
  // changed (the dialog then stays open).
  using Apply = std::function<int(const QString& code, const QString& entry)>;

  ModifyDialog(QWidget* parent, UiServices& services, const QString& code, const QString& entry,
               Apply apply);

  QLineEdit* codeEdit() const { return code_; }
  QLineEdit* entryEdit() const { return entry_; }

  void accept() override;

 private:
  UiServices& services_;
  Apply apply_;
  QLineEdit* code_;
  QLineEdit* entry_;
};

class AddEntryDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kFieldLimit = 255;
  using InsertOne = std::function<Status(const QString& code, const QString& entry)>;
  using InsertFile = std::function<Result<uint32_t>(const QString& path)>;

  AddEntryDialog(QWidget* parent, UiServices& services, InsertOne insertOne, InsertFile insertFile);

  QLineEdit* codeEdit() const { return code_; }
  QLineEdit* entryEdit() const { return entry_; }
  QLineEdit* pathEdit() const { return path_; }
  QLineEdit* statusEdit() const { return status_; }
  QRadioButton* singleButton() const { return single_; }
  QRadioButton* fileButton() const { return file_; }
  QPushButton* importButton() const { return import_; }
  QPushButton* browseButton() const { return browse_; }

  // "导入": inserts the entry, or every row of the chosen file; the dialog
  // stays open for the next one.
  void Import();

 private:
  void SetMode(bool single);

  UiServices& services_;
  InsertOne insertOne_;
  InsertFile insertFile_;
  QRadioButton* single_;
  QRadioButton* file_;
  QLineEdit* code_;
  QLineEdit* entry_;
  QLineEdit* path_;
  QLineEdit* status_;
  QPushButton* import_;
  QPushButton* browse_;
};

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent);
};

}  // namespace mirel
