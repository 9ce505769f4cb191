// The dialog that picks an installed copy of the input method: in open mode
// it hands back the copy's main table for the editor to open; in reverse
// mode it exports the main table (and, when asked, the user library) as a
// text table. Messages and the file picker go through UiServices.
#pragma once

#include <QDialog>
#include <optional>
#include <vector>

#include "ime/installed_tables.h"
#include "platform/ui/ui_services.h"

class QCheckBox;
class QComboBox;

namespace mirel {

class InstalledDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Mode { kReverse = 0, kOpen = 1 };

  // Runs the dialog. When no copy can be offered it says so and returns
  // without showing a dialog. In open mode the result is the chosen table.
  static std::optional<InstalledTable> Run(QWidget* parent, UiServices& services,
                                           const InstalledCopies& copies, const TempFolder& temp,
                                           Mode mode);

  InstalledDialog(QWidget* parent, UiServices& services, const InstalledCopies& copies,
                  const TempFolder& temp, Mode mode,
                  std::vector<std::pair<QString, std::u16string>> offered);

  QComboBox* copyList() const { return list_; }
  QCheckBox* userLibraryBox() const { return userLibrary_; }
  const std::optional<InstalledTable>& chosen() const { return chosen_; }

  // Button 1 ("确定(&O)").
  void Confirm();

 private:
  UiServices& services_;
  const InstalledCopies& copies_;
  const TempFolder& temp_;
  Mode mode_;
  std::vector<std::pair<QString, std::u16string>> offered_;  // display name, key
  QComboBox* list_;
  QCheckBox* userLibrary_;
  std::optional<InstalledTable> chosen_;
};

}  // namespace mirel
