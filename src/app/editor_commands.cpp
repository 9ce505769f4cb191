#include "app/editor_commands.h"

namespace mirel::command {
namespace {

constexpr EditorKey kEditorKeys[] = {
    {kOpen, "Ctrl+O", "open a text table"},
    {kOpenInstalled, "Ctrl+Alt+O", "open the main table of an installed copy of the input method"},
    {kSave, "Ctrl+S", "save"},
    {kSaveAs, "Ctrl+Alt+S", "save as"},
    {kClose, "Ctrl+W", "close the table"},
    {kExit, "Alt+X", "quit"},
    {kAdd, "Ins", "add a row"},
    {kModify, "Return", "modify the selected row"},
    {kDelete, "Del", "delete the selected rows"},
    {kCopy, "Ctrl+C", "copy the selected rows"},
    {kMoveUp, "Ctrl+Up", "move the selected rows up by one"},
    {kMoveDown, "Ctrl+Down", "move the selected rows down by one"},
    {kMoveToTop, "Ctrl+Home", "move the selected rows to the top"},
    {kMoveToEnd, "Ctrl+End", "move the selected rows to the end"},
    {kExportFrequency, "Ctrl+E", "export the instant frequency file"},
    {kExtractSingle, "Ctrl+I", "extract the single-character codes"},
    {kRemoveDuplicates, "Ctrl+Shift+R", "remove duplicate rows, keeping the present order"},
    {kUndo, "Ctrl+Z", "undo the last change"},
    {kRedo, "Ctrl+Y|Ctrl+Shift+Z", "redo"},
    {kFind, "Ctrl+F", "find an entry"},
    {kFindNext, "F3", "find the next row holding it"},
    {kFindPrevious, "Shift+F3", "find the previous row holding it"},
    {kStatistics, "Ctrl+Shift+Alt+S", "statistics"},
    {kCommonConversion, "Ctrl+Shift+X", "convert between common table formats"},
    {kRuleConversion, "Ctrl+Shift+F", "rule-based conversion"},
    {kSingleCharacters, "Ctrl+Shift+T", "generate a single-character table"},
    {kMerge, "Ctrl+Shift+M", "merge tables"},
    {kWordLibrary, "Ctrl+Shift+C", "generate a word library"},
    {kCommandTips, "Ctrl+Shift+P", "generate a command-tip table"},
    {kReverseInstalled, "Ctrl+Shift+D", "reverse an installed table"},
    {kAnalysis, "Ctrl+Shift+A", "analyse how the table types real text"},
    {kFocusCycle, "Tab", "move between the filter box, the exact-match box and the list"},
    {kHelpIndex, "F1", "open the help"},
};

}  // namespace

std::span<const EditorKey> EditorKeys() { return kEditorKeys; }

std::string_view KeysOf(int command) {
  for (const EditorKey& key : EditorKeys()) {
    if (key.command == command) return key.keys;
  }
  return {};
}

}  // namespace mirel::command
