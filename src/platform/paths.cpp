#include "platform/paths.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/utf16.h"

namespace mirel {

std::filesystem::path PathFromUtf16(std::u16string_view text) {
  return std::filesystem::path(Utf16ToUtf8(text));
}

std::u16string PathToUtf16(const std::filesystem::path& path) { return Utf8ToUtf16(path.native()); }

std::string PathToUtf8(const std::filesystem::path& path) { return path.native(); }

std::filesystem::path ProgramFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::filesystem::current_path();
  return std::filesystem::path(std::string(buf, static_cast<size_t>(n))).parent_path();
}

std::filesystem::path FolderOf(const std::filesystem::path& source) { return source.parent_path(); }

bool HasExtension(const std::filesystem::path& path, std::u16string_view ext) {
  std::u16string name = PathToUtf16(path.filename());
  if (name.size() < ext.size()) return false;
  return FoldAscii(std::u16string_view(name).substr(name.size() - ext.size())) == ext;
}

std::filesystem::path UserCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache == '/') return std::filesystem::path(cache) / "mirel";
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return std::filesystem::path(home) / ".cache" / "mirel";
  return {};
}

}  // namespace mirel
