// Command numbers of the editor's menu, accelerators and context menu, and
// the keys bound to them: the window binds and shows these, and its manual
// page lists them, so the two cannot drift apart.
#pragma once

#include <span>
#include <string_view>

namespace mirel::command {

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

// A command's keys as portable key texts ("Ctrl+Shift+R"; alternatives
// separated by '|') and what they do, in the manual's words.
struct EditorKey {
  int command;
  std::string_view keys;
  std::string_view action;
};
// In the order the manual lists them.
std::span<const EditorKey> EditorKeys();
// The keys of `command`; empty when it has none.
std::string_view KeysOf(int command);

}  // namespace mirel::command
