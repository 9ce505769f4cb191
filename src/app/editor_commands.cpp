#include "app/editor_commands.h"

namespace mirel {
namespace {

using namespace command;
using A = EditorActions;
using M = EditorMenu;

constexpr std::u16string_view kReorderMenu = u"重新排序(&O)";

// clang-format off
constexpr EditorCommand kCommands[] = {
    // number, text, keys, key action, menu, submenu, group, rows, tableItem, run
    {kOpen, u"打开文本文件(&O)...", "Ctrl+O", "open a text table",
     M::kFile, {}, false, false, false, [](A& a) { a.OpenCommand(); }},
    {kOpenInstalled, u"打开Mirel输入法(&P)...", "Ctrl+Alt+O",
     "open the main table of an installed copy of the input method",
     M::kFile, {}, false, false, false, [](A& a) { a.OpenInstalledCommand(); }},
    {kOpenLinux, u"打开Linux输入法码表(&L)...", "", "",
     M::kFile, {}, false, false, false, [](A& a) { a.OpenLinuxCommand(); }},
    {kLinuxHeader, u"表头(&H)...", "", "",
     M::kFile, {}, false, false, false, [](A& a) { a.LinuxHeaderCommand(); }},
    {kSave, u"保存(&S)...", "Ctrl+S", "save",
     M::kFile, {}, false, true, true, [](A& a) { (void)a.Save(); }},
    {kSaveAs, u"另存为(&A)...", "Ctrl+Alt+S", "save as",
     M::kFile, {}, false, true, true, [](A& a) { (void)a.SaveAs(); }},
    {kClose, u"关闭(&C)", "Ctrl+W", "close the table",
     M::kFile, {}, false, true, true, [](A& a) { a.CloseCommand(); }},
    // The recent files' submenu goes in a group of its own before this one.
    {kExit, u"退出(&X)", "Alt+X", "quit",
     M::kFile, {}, true, false, false, [](A& a) { a.ExitCommand(); }},

    {kUndo, u"撤销(&Z)", "Ctrl+Z", "undo the last change",
     M::kEdit, {}, false, false, false, [](A& a) { a.UndoCommand(false); }},
    {kRedo, u"重做(&Y)", "Ctrl+Y|Ctrl+Shift+Z", "redo",
     M::kEdit, {}, false, false, false, [](A& a) { a.UndoCommand(true); }},
    {kAdd, u"添加(&A)...", "Ins", "add a row",
     M::kEdit, {}, true, true, true, [](A& a) { a.AddCommand(); }},
    {kModify, u"修改(&M)...", "Return", "modify the selected row",
     M::kEdit, {}, false, true, true, [](A& a) { a.ModifyCommand(); }},
    {kDelete, u"删除(&D)", "Del", "delete the selected rows",
     M::kEdit, {}, false, true, true, [](A& a) { a.DeleteCommand(); }},
    {kCopy, u"复制(&C)", "Ctrl+C", "copy the selected rows",
     M::kEdit, {}, false, true, true, [](A& a) { a.CopyCommand(); }},
    {kFind, u"查找词条(&F)...", "Ctrl+F", "find an entry",
     M::kEdit, {}, true, false, true, [](A& a) { a.FindCommand(); }},
    {kFindNext, u"查找下一个(&N)", "F3", "find the next row holding it",
     M::kEdit, {}, false, false, true, [](A& a) { a.FindStep(true, false); }},
    {kFindPrevious, u"查找上一个(&B)", "Shift+F3", "find the previous row holding it",
     M::kEdit, {}, false, false, true, [](A& a) { a.FindStep(false, false); }},
    {kFocusCycle, u"切换焦点(&T)", "Tab",
     "move between the filter box, the exact-match box and the list",
     M::kEdit, {}, false, false, false, [](A& a) { a.FocusCycle(); }},
    {kMoveUp, u"上移一位(&U)", "Ctrl+Up", "move the selected rows up by one",
     M::kEdit, {}, true, true, true, [](A& a) { a.Move(&TableEditor::MoveUp, u"上移一位"); }},
    {kMoveDown, u"下移一位(&J)", "Ctrl+Down", "move the selected rows down by one",
     M::kEdit, {}, false, true, true, [](A& a) { a.Move(&TableEditor::MoveDown, u"下移一位"); }},
    {kMoveToTop, u"上移至首位(&H)", "Ctrl+Home", "move the selected rows to the top",
     M::kEdit, {}, false, true, true,
     [](A& a) { a.Move(&TableEditor::MoveToTop, u"上移至首位"); }},
    {kMoveToEnd, u"下移至末尾(&E)", "Ctrl+End", "move the selected rows to the end",
     M::kEdit, {}, false, true, true,
     [](A& a) { a.Move(&TableEditor::MoveToEnd, u"下移至末尾"); }},
    {kSourceOrder, u"原始序(&O)", "", "",
     M::kEdit, kReorderMenu, false, true, true, [](A& a) { a.Reorder(Ordering::kSource); }},
    {kFrequencyOrder, u"依据词频表(&F)...", "", "",
     M::kEdit, kReorderMenu, false, true, true, [](A& a) { a.FrequencyOrderCommand(); }},
    {kCodeOrder1, u"编码序1(&C)\ta-ab-b", "", "",
     M::kEdit, kReorderMenu, true, true, true, [](A& a) { a.Reorder(Ordering::kCode1); }},
    {kCodeOrder2, u"编码序2(&D)\ta-b-ab", "", "",
     M::kEdit, kReorderMenu, false, true, true, [](A& a) { a.Reorder(Ordering::kCode2); }},
    {kEntryOrder1, u"词条序1(&P)", "", "",
     M::kEdit, kReorderMenu, false, true, true, [](A& a) { a.Reorder(Ordering::kEntry1); }},
    {kEntryOrder2, u"词条序2(&Q)\t短词靠前", "", "",
     M::kEdit, kReorderMenu, false, true, true, [](A& a) { a.Reorder(Ordering::kEntry2); }},
    {kExportFrequency, u"导出即时词频(&X)...", "Ctrl+E", "export the instant frequency file",
     M::kEdit, {}, true, true, true, [](A& a) { a.ExportFrequencyCommand(); }},
    {kExtractSingle, u"提取单字编码(&I)...", "Ctrl+I", "extract the single-character codes",
     M::kEdit, {}, false, true, true, [](A& a) { a.ExtractSingleCommand(); }},
    {kRemoveDuplicates, u"删除重复(&R)", "Ctrl+Shift+R",
     "remove duplicate rows, keeping the present order",
     M::kEdit, {}, false, true, true, [](A& a) { a.RemoveDuplicatesCommand(); }},
    {kStatistics, u"统计信息(&S)", "Ctrl+Shift+Alt+S", "statistics",
     M::kEdit, {}, false, false, true, [](A& a) { a.StatisticsCommand(); }},

    {kCommonConversion, u"常见码表格式转换(&X)...", "Ctrl+Shift+X",
     "convert between common table formats",
     M::kTools, {}, false, false, false, [](A& a) { a.CommonConversionCommand(); }},
    {kRuleConversion, u"高级码表格式转换(&F)...", "Ctrl+Shift+F", "rule-based conversion",
     M::kTools, {}, true, false, false, [](A& a) { a.RuleConversionCommand(); }},
    {kSingleCharacters, u"单字码表生成(&T)...", "Ctrl+Shift+T",
     "generate a single-character table",
     M::kTools, {}, true, false, false, [](A& a) { a.SingleCharactersCommand(); }},
    {kMerge, u"合并码表(&M)...", "Ctrl+Shift+M", "merge tables",
     M::kTools, {}, true, false, false, [](A& a) { a.MergeCommand(); }},
    {kWordLibrary, u"词库生成(&C)...", "Ctrl+Shift+C", "generate a word library",
     M::kTools, {}, true, false, false, [](A& a) { a.WordLibraryCommand(); }},
    {kCommandTips, u"Mirel提示码表生成(&P)...", "Ctrl+Shift+P", "generate a command-tip table",
     M::kTools, {}, true, false, false, [](A& a) { a.CommandTipsCommand(); }},
    {kReverseInstalled, u"安装后码表反转(&D)...", "Ctrl+Shift+D", "reverse an installed table",
     M::kTools, {}, true, false, false, [](A& a) { a.ReverseInstalledCommand(); }},
    {kAnalysis, u"方案分析(&A)...", "Ctrl+Shift+A", "analyse how the table types real text",
     M::kTools, {}, true, false, true, [](A& a) { a.AnalysisCommand(); }},

    {kHelpIndex, u"索引(&I)", "F1", "open the help",
     M::kHelp, {}, false, false, false, [](A& a) { a.HelpCommand(); }},
    {kCheckUpdates, u"查看更新(&U)", "", "",
     M::kHelp, {}, false, false, false, [](A& a) { a.UpdatesCommand(); }},
    {kAbout, u"关于软件(&A)", "", "",
     M::kHelp, {}, true, false, false, [](A& a) { a.AboutCommand(); }},
};
// clang-format on

}  // namespace

std::span<const EditorCommand> EditorCommands() { return kCommands; }

const EditorCommand* FindEditorCommand(int number) {
  for (const EditorCommand& c : kCommands) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

}  // namespace mirel
