// The editor's commands as data: one row per command holds its number (the
// menus, keys and context menu dispatch by it), menu text and place, keys,
// gates and action. The window builds its menus and binds its keys from the
// rows, and the manual page lists the same keys, so none of them can drift
// apart. The rows are constant; the actions run on the interface thread.
#pragma once

#include <span>
#include <string_view>

#include "app/table_editor.h"

namespace mirel {
namespace command {

inline constexpr int kHelpIndex = 40025;
inline constexpr int kCheckUpdates = 40026;
inline constexpr int kAbout = 40027;
inline constexpr int kCodeOrder1 = 40033;
inline constexpr int kEntryOrder1 = 40034;
inline constexpr int kFrequencyOrder = 40035;
inline constexpr int kMoveUp = 40036;
inline constexpr int kMoveDown = 40037;
inline constexpr int kMoveToTop = 40038;
inline constexpr int kMoveToEnd = 40039;
inline constexpr int kExportFrequency = 40040;
inline constexpr int kModify = 40041;
inline constexpr int kDelete = 40042;
inline constexpr int kAdd = 40045;
inline constexpr int kSaveAs = 40050;
inline constexpr int kExit = 40052;
inline constexpr int kOpen = 40053;
inline constexpr int kSave = 40054;
inline constexpr int kClose = 40055;
inline constexpr int kCodeOrder2 = 40056;
inline constexpr int kStatistics = 40059;
inline constexpr int kEntryOrder2 = 40063;
inline constexpr int kWordLibrary = 40068;
inline constexpr int kSingleCharacters = 40069;
inline constexpr int kRuleConversion = 40070;
inline constexpr int kReverseInstalled = 40071;
inline constexpr int kOpenInstalled = 40102;
inline constexpr int kExtractSingle = 40103;
inline constexpr int kMerge = 40106;
inline constexpr int kRemoveDuplicates = 40110;
inline constexpr int kSourceOrder = 40113;
inline constexpr int kCopy = 40118;
inline constexpr int kFocusCycle = 40119;
inline constexpr int kCommonConversion = 40122;
inline constexpr int kCommandTips = 40125;
inline constexpr int kOpenLinux = 40126;
inline constexpr int kLinuxHeader = 40127;

// The editor's own additions.
inline constexpr int kUndo = 40130;
inline constexpr int kRedo = 40131;
inline constexpr int kFind = 40132;
inline constexpr int kFindNext = 40133;
inline constexpr int kFindPrevious = 40134;
inline constexpr int kAnalysis = 40135;

inline constexpr int kFirst = 40025;
inline constexpr int kLast = 40135;

}  // namespace command

// What the editor's commands do. The window implements it; the command rows
// below name these, so each command is one row.
class EditorActions {
 public:
  virtual void OpenCommand() = 0;
  virtual void OpenInstalledCommand() = 0;
  virtual void OpenLinuxCommand() = 0;
  virtual void LinuxHeaderCommand() = 0;
  virtual bool Save() = 0;
  virtual bool SaveAs() = 0;
  virtual void CloseCommand() = 0;
  virtual void ExitCommand() = 0;
  virtual void UndoCommand(bool redo) = 0;
  virtual void AddCommand() = 0;
  virtual void ModifyCommand() = 0;
  virtual void DeleteCommand() = 0;
  virtual void CopyCommand() = 0;
  virtual void FindCommand() = 0;
  virtual void FindStep(bool forward, bool includeCurrent) = 0;
  virtual void FocusCycle() = 0;
  // `name` is the command's, for the result the window shows.
  virtual void Move(RowSelection (TableEditor::*step)(const RowSelection&),
                    std::u16string_view name) = 0;
  virtual void Reorder(Ordering ordering) = 0;
  virtual void FrequencyOrderCommand() = 0;
  virtual void ExportFrequencyCommand() = 0;
  virtual void ExtractSingleCommand() = 0;
  virtual void RemoveDuplicatesCommand() = 0;
  virtual void StatisticsCommand() = 0;
  virtual void CommonConversionCommand() = 0;
  virtual void RuleConversionCommand() = 0;
  virtual void SingleCharactersCommand() = 0;
  virtual void MergeCommand() = 0;
  virtual void WordLibraryCommand() = 0;
  virtual void CommandTipsCommand() = 0;
  virtual void ReverseInstalledCommand() = 0;
  virtual void AnalysisCommand() = 0;
  virtual void HelpCommand() = 0;
  virtual void UpdatesCommand() = 0;
  virtual void AboutCommand() = 0;

 protected:
  ~EditorActions() = default;
};

enum class EditorMenu { kFile, kEdit, kTools, kHelp };

// One command: its menu item, keys, gates and action. The rows are in menu
// order; the manual lists the keys in the same order.
struct EditorCommand {
  int number;
  std::u16string_view text;  // menu text; a hint may follow a TAB where no key is bound
  // Portable key texts ("Ctrl+Shift+R"; alternatives separated by '|'), and
  // what they do in the manual's words; both empty when no key is bound.
  std::string_view keys;
  std::string_view keyAction;
  EditorMenu menu;
  std::u16string_view submenu;  // within `menu`; empty for an item of the menu itself
  bool group;                   // a separator goes before it
  bool rows;                    // acts only while the filtered view holds rows
  bool tableItem;               // greyed while no table is open
  void (*run)(EditorActions&);
};

std::span<const EditorCommand> EditorCommands();
// The row of `number`, or null.
const EditorCommand* FindEditorCommand(int number);

}  // namespace mirel
