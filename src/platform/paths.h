// Path helpers: conversions between UTF-16 text and file-system paths (UTF-8
// on this platform), and the folder of the running program.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace mirel {

std::filesystem::path PathFromUtf16(std::u16string_view text);
std::u16string PathToUtf16(const std::filesystem::path& path);
std::string PathToUtf8(const std::filesystem::path& path);

// The folder holding the running executable; relative batch paths and tool
// defaults resolve against it.
std::filesystem::path ProgramFolder();

// Where this user's caches go: $XDG_CACHE_HOME/mirel, else ~/.cache/mirel;
// empty when neither names an absolute folder.
std::filesystem::path UserCacheFolder();

// The folder results go to for `source`: its parent; empty (the current
// directory) when the path has no folder part.
std::filesystem::path FolderOf(const std::filesystem::path& source);

// True when the extension (last four characters) matches, ignoring the case
// of A-Z; `ext` is lower case and includes the dot.
bool HasExtension(const std::filesystem::path& path, std::u16string_view ext);

}  // namespace mirel
