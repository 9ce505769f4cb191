// The tables of an installed copy of the input method: its main table
// (main.ktb, compiled) and its user library (usr.ktb, the same layout, of
// which only the words are read). Nothing is opened in place: each file is
// first copied to "kv_tolvik_tempmb.ktb" in the private temporary folder,
// since the running input method may hold it. Every count, offset and length
// is checked against the file's size before anything is read. Reentrant.
#pragma once

#include <filesystem>
#include <functional>
#include <span>
#include <string_view>

#include "ime/installed_copies.h"
#include "platform/status.h"
#include "platform/temp_folder.h"
#include "store/compiled_table.h"

namespace mirel {

inline constexpr std::u16string_view kInstalledCopyName = u"kv_tolvik_tempmb.ktb";
inline constexpr std::u16string_view kUserLibraryComment =
    u"//kavo_tolvik 导出的当前正在使用的用户词库\r\n";

struct InstalledTable {
  std::u16string key;
  std::filesystem::path mainTable;  // the copy's main.ktb, where a save goes
  std::filesystem::path localCopy;  // its copy in the temporary folder, to read
  OpaqueHeader settings;            // header values to write back on a save
};

// Copies the main table of the copy registered as `key` and reads its
// settings. Fails with a message naming what is missing or unreadable.
Result<InstalledTable> ReadInstalledTable(const InstalledCopies& copies, std::u16string_view key,
                                          const TempFolder& temp);

// Checks a user library and calls `word` for each record, in the order of
// its offset table. A damaged file is refused before any word is passed.
Status ReadUserLibrary(std::span<const std::byte> library,
                       const std::function<void(std::u16string_view word)>& word);

// Writes the copy's main table as a text table to `target` (UTF-16LE with
// mark), followed, when asked and the copy has one, by its user library: a
// comment line and one "word TAB" line per word. A user library that exists
// but is damaged fails the export; nothing is written then.
Status ExportInstalledTable(const InstalledCopies& copies, std::u16string_view key,
                            bool userLibrary, const std::filesystem::path& target,
                            const TempFolder& temp);

// Finds a copy by key name, or else by display name.
std::optional<std::u16string> FindInstalledCopy(const InstalledCopies& copies,
                                                std::u16string_view keyOrName);

}  // namespace mirel
