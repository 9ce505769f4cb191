// The editor's main window: the filter controls, the virtual entry list over
// the TableStore, the menu bar and the accelerators, and the command set that
// edits, reorders, exports and saves the open table. Every question and file
// choice goes through UiServices. The window borrows the store, the services
// and the program folder; they must outlive it. Interface thread only.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>

#include "app/ui/entry_list_model.h"
#include "app/ui/linux_session.h"
#include "convert/rule_conversion.h"
#include "generate/merge_tables.h"
#include "generate/single_characters.h"
#include "generate/word_library.h"
#include "ime/installed_tables.h"
#include "platform/ui/ui_services.h"
#include "store/table_store.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QTableView;

namespace mirel {

inline constexpr char16_t kWindowTitle[] = u"Mirel码表编辑器 V3.0";
inline constexpr int kFilterLimit = 19;
inline constexpr int kTitleLimit = 63;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(TableStore& store, UiServices& services, std::filesystem::path programFolder,
             QWidget* parent = nullptr);
  ~MainWindow() override;

  // Runs a command by number; false when it is not one the window handles,
  // or its rows gate stopped it.
  bool Dispatch(int command);
  // Opens a table as the open command does, without the picker.
  bool OpenTable(const std::filesystem::path& path);
  // Re-filters the store from the filter controls, resets the list and
  // writes the title line.
  void Refresh();

  // Opens the main table of an installed copy; a save compiles into it.
  bool OpenInstalled(const InstalledTable& table);
  // Where the installed copies of the input method are looked up.
  void SetInstalledEnvironment(InstalledEnvironment environment) {
    installedEnvironment_ = std::move(environment);
  }

  // Opens a table of a Linux input method; a save writes its user copy.
  bool OpenLinuxTable(const LinuxTableInfo& table);
  // Where the tables of the Linux input methods are looked up.
  void SetLinuxEnvironment(LinuxEnvironment environment) {
    linuxEnvironment_ = std::move(environment);
  }
  LinuxSession& linuxSession() { return linuxSession_; }

  // A handler for a command another part of the program provides (the tool
  // dialogs); it replaces "not handled" for that number.
  void SetCommandHandler(int command, std::function<void()> handler);

  QLineEdit* filterBox() const { return filterBox_; }
  QCheckBox* exactBox() const { return exactBox_; }
  QTableView* entryList() const { return list_; }
  QAction* action(int command) const;
  EntryListModel& model() { return model_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // A tool dialog, modal over the window; the tools leave the open table alone.
  template <class Dialog, class... Args>
  void ShowDialog(Args&&... args) {
    Dialog dialog(this, services_, store_.fs(), std::forward<Args>(args)...);
    dialog.exec();
  }
  void BuildMenus();
  QMenu* BuildPopup(int index, QWidget* parent, bool forContext);
  void SetTableItemsEnabled(bool enabled);
  bool RowsVisible() const { return store_.VisibleRowCount() > 0; }
  std::vector<int> SelectedRows() const;
  void SelectRow(int row, bool select, bool current = false);
  void Reorder(const std::function<void()>& sort);
  // 1 when the user chose to save and the save failed.
  int CloseCommand();
  void OpenCommand();
  void ExitCommand();
  bool Save();
  bool SaveAs();
  void DeleteCommand();
  void CopyCommand();
  void MoveUp();
  void MoveDown();
  void MoveToTop();
  void MoveToEnd();
  void ModifyCommand();
  void AddCommand();
  void FrequencyOrderCommand();
  void ExportFrequencyCommand();
  void ExtractSingleCommand();
  void FocusCycle();
  void StatisticsCommand();
  void OpenInstalledCommand();
  void OpenLinuxCommand();
  void ReverseInstalledCommand();
  void ShowContextMenu(const QPoint& at);
  void ShowSaveFailure(const Status& status);
  QString PickExportPath();
  void LayoutChildren();
  void WriteTitle();

  TableStore& store_;
  UiServices& services_;
  std::filesystem::path programFolder_;
  EntryListModel model_;
  QLabel* filterLabel_ = nullptr;
  QLineEdit* filterBox_ = nullptr;
  QCheckBox* exactBox_ = nullptr;
  QTableView* list_ = nullptr;
  QWidget* central_ = nullptr;
  std::map<int, QAction*> actions_;
  std::map<int, std::function<void()>> handlers_;
  std::vector<int> tableItems_;
  InstalledEnvironment installedEnvironment_;
  LinuxEnvironment linuxEnvironment_ = LinuxEnvironment::FromProcess();
  LinuxSession linuxSession_{store_, services_};
  RuleConversionSettings ruleConversion_;
  MergeSettings merge_;
  SingleCharacterSettings singleCharacters_;
  WordLibrarySettings wordLibrary_;
};

}  // namespace mirel
