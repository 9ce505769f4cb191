// The editor's main window: the filter controls, the find bar, the virtual
// entry list over the TableStore, the status bar, the menu bar and the keys.
// The command rows (app/editor_commands.h) hold each command's menu text,
// keys, gates and action; the window builds its menus and keys from them,
// carries out the actions, and leaves the table arithmetic (moves, deletes,
// undo, find) to TableEditor.
//
// Every question and file choice goes through UiServices. The window
// borrows the store, the services, the program folder and the settings
// (remembered geometry, column widths and recent files; none when null);
// they must outlive it. Interface thread only.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "app/editor_commands.h"
#include "app/table_editor.h"
#include "app/ui/analysis_window.h"
#include "app/ui/entry_list_model.h"
#include "app/ui/linux_session.h"
#include "convert/common_conversion.h"
#include "convert/rule_conversion.h"
#include "generate/merge_tables.h"
#include "generate/single_characters.h"
#include "generate/word_library.h"
#include "ime/installed_copies.h"
#include "ime/installed_tables.h"
#include "platform/ui/ui_services.h"
#include "store/table_store.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSettings;
class QTableView;

namespace mirel {

inline constexpr char16_t kWindowTitle[] = u"Mirel码表编辑器 V3.0";
inline constexpr int kFilterLimit = 19;
inline constexpr int kTitleLimit = 63;
inline constexpr int kRecentLimit = 8;

class MainWindow : public QMainWindow, private EditorActions {
  Q_OBJECT

 public:
  MainWindow(TableStore& store, UiServices& services, std::filesystem::path programFolder,
             QSettings* settings = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Runs a command by number; false when it is not one the window handles,
  // or its rows gate stopped it.
  bool Dispatch(int command);
  // Opens a table of any format Mirel reads without asking (the open
  // command asks first). A file that cannot be read is reported and leaves
  // the open table as it was.
  bool OpenTable(const std::filesystem::path& path);
  // Asks to save a changed table, then opens `path` (a dropped file, a
  // recent file).
  bool OpenWithPrompt(const std::filesystem::path& path);
  // Re-filters the store from the filter controls, resets the list and
  // writes the title line and the status bar.
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
  QWidget* findBar() const { return findBar_; }
  QLineEdit* findBox() const { return findBox_; }
  QLabel* findCount() const { return findCount_; }
  // The bar above the list that tells of lines an open left out.
  QWidget* noticeBar() const { return noticeBar_; }
  QLabel* noticeText() const { return noticeText_; }
  QAction* action(int command) const;
  EntryListModel& model() { return model_; }
  TableEditor& editor() { return editor_; }
  QStringList recentFiles() const { return recent_; }
  // The open table has changes a save would write (rows or header).
  bool Changed() const;
  QMenu* recentMenu() const { return recentMenu_; }
  // The analysis window once opened; it stays, hidden, when closed.
  AnalysisWindow* analysisWindow() const { return analysisWindow_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // A tool dialog, modal over the window; the tools leave the open table alone.
  template <class Dialog, class... Args>
  void ShowDialog(Args&&... args) {
    Dialog dialog(this, services_, store_.fs(), std::forward<Args>(args)...);
    dialog.exec();
  }
  void BuildMenus();
  QMenu* BuildPopup(EditorMenu which, QWidget* parent, bool forContext);
  void BuildStatusBar();
  void BuildFindBar();
  void BuildNoticeBar();
  void ShowNotice(const QString& text);
  void HideNotice();
  void SetTableItemsEnabled(bool enabled);
  void UpdateState();
  void ShowResult(const QString& text);
  bool RowsVisible() const { return store_.VisibleRowCount() > 0; }
  std::vector<uint32_t> SelectedRows() const;
  RowSelection Selection() const;
  void ApplySelection(const RowSelection& selection);
  void SelectOnly(int row);
  // After a change that reset the list: back to the scroll position it had,
  // the selection applied and its current row in view.
  void KeepPlace(int scroll, const RowSelection& selection);
  bool HandleListKey(QKeyEvent* key);
  int HandleFindKey(QKeyEvent* key);

  // Asks to save a changed table with 是/否/取消; false when the user
  // cancelled or the save failed, so the caller must stop.
  bool ConfirmDiscard(const QString& question);
  bool OpenFile(const std::filesystem::path& path, bool remember);
  // Puts a file's rows into the store; false (after saying why) when it
  // could not.
  bool LoadRows(const std::filesystem::path& path);
  void ShowOpened(bool remember);
  bool OpenPrepared(std::optional<std::filesystem::path> text, bool remember);
  bool OpenConverted(const std::filesystem::path& path, TableFormat format, bool remember);
  void OpenRecent(const QString& entry);
  void ForgetRecent(const QString& entry);
  void RemoveScratchFiles();
  void ResetAfterClose();
  // The commands' actions.
  void Reorder(Ordering ordering) override;
  void CloseCommand() override;
  void OpenCommand() override;
  void ExitCommand() override;
  bool Save() override;
  bool SaveAs() override;
  void DeleteCommand() override;
  void CopyCommand() override;
  void Move(RowSelection (TableEditor::*step)(const RowSelection&),
            std::u16string_view name) override;
  void ModifyCommand() override;
  void AddCommand() override;
  void FrequencyOrderCommand() override;
  void ExportFrequencyCommand() override;
  void ExtractSingleCommand() override;
  void RemoveDuplicatesCommand() override;
  void UndoCommand(bool redo) override;
  void FocusCycle() override;
  void StatisticsCommand() override;
  // Opens the analysis window beside the table, or brings it forward, and
  // measures the rows as they are now.
  void AnalysisCommand() override;
  void LinuxHeaderCommand() override;
  void CommonConversionCommand() override;
  void RuleConversionCommand() override;
  void SingleCharactersCommand() override;
  void MergeCommand() override;
  void WordLibraryCommand() override;
  void CommandTipsCommand() override;
  void AboutCommand() override;
  // The installed copies, or nothing after telling why they cannot be read.
  std::optional<InstalledCopies> LoadInstalledCopies();
  void OpenInstalledCommand() override;
  void OpenLinuxCommand() override;
  void ReverseInstalledCommand() override;
  void HelpCommand() override;
  void UpdatesCommand() override;
  void FindCommand() override;
  void FindStep(bool forward, bool includeCurrent) override;
  void UpdateFindCount();
  // The find count with the place of the current row among the matches.
  void ShowFindCount();
  void ShowContextMenu(const QPoint& at);
  void ShowSaveFailure(const Status& status);
  QString PickExportPath(const QString& title, const QString& suggested = {});
  // The file name a save as offers: the table's own, with .txt.
  QString SuggestedTextName() const;
  void LayoutChildren();
  void WriteTitle();
  void AddRecent(const QString& path);
  void RebuildRecentMenu();
  void RestoreSettings();
  void StoreSettings();

  TableStore& store_;
  UiServices& services_;
  std::filesystem::path programFolder_;
  QSettings* settings_;
  TableEditor editor_;
  EntryListModel model_;
  QLabel* filterLabel_ = nullptr;
  QLineEdit* filterBox_ = nullptr;
  QCheckBox* exactBox_ = nullptr;
  QWidget* findBar_ = nullptr;
  QLineEdit* findBox_ = nullptr;
  QLabel* findCount_ = nullptr;
  // Rows matching the find text, counted when the text or the rows change.
  uint32_t findMatches_ = 0;
  QWidget* noticeBar_ = nullptr;
  QLabel* noticeText_ = nullptr;
  QTableView* list_ = nullptr;
  QWidget* central_ = nullptr;
  QLabel* fileLabel_ = nullptr;
  QLabel* encodingLabel_ = nullptr;
  QLabel* rowsLabel_ = nullptr;
  QLabel* changedLabel_ = nullptr;
  QLabel* leftOutLabel_ = nullptr;
  QLabel* resultLabel_ = nullptr;
  // The open table as the user knows it: its file, or an installed Linux
  // table's name; never a working file.
  QString origin_;
  // The format it was read in, when the store holds it converted.
  QString formatName_;
  // Read from one of the common line formats: a save asks for a Mirel text.
  bool converted_ = false;
  // Why the last filter failed; empty once one works.
  QString filterFailure_;
  QMenu* recentMenu_ = nullptr;
  QStringList recent_;
  std::map<int, QAction*> actions_;
  std::map<int, std::function<void()>> handlers_;
  // Keys of the command table, matched before any widget sees them.
  std::vector<std::pair<QKeyCombination, int>> keys_;
  bool findCountStale_ = true;
  // Exit asked already; the close event that follows does not ask again.
  bool exitConfirmed_ = false;
  InstalledEnvironment installedEnvironment_;
  LinuxEnvironment linuxEnvironment_ = LinuxEnvironment::FromProcess();
  LinuxSession linuxSession_{editor_, services_};
  RuleConversionSettings ruleConversion_;
  MergeSettings merge_;
  SingleCharacterSettings singleCharacters_;
  WordLibrarySettings wordLibrary_;
  QPointer<AnalysisWindow> analysisWindow_;
};

}  // namespace mirel
