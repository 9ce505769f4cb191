#include "platform/messages.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace mirel {

void SetUpMessages(const std::filesystem::path& programFolder) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  // Installed programs sit in <prefix>/bin beside <prefix>/share; in the
  // build tree the programs and test binaries sit one folder below it.
  const std::filesystem::path base = programFolder.parent_path();
  std::error_code error;
  std::filesystem::path folder = base / "share" / "locale";
  if (!std::filesystem::is_directory(folder, error)) folder = base / "locale";
  ::bindtextdomain(kTextDomain, folder.c_str());
  ::bind_textdomain_codeset(kTextDomain, "UTF-8");
}

void PreferChineseMessages() {
  const char* language = std::getenv("LANGUAGE");
  if (language == nullptr || *language == '\0') ::setenv("LANGUAGE", "zh_CN", 1);
  // gettext ignores LANGUAGE in the C locale; C.UTF-8 is always there and
  // changes nothing else about messages.
  const char* current = std::setlocale(LC_MESSAGES, nullptr);
  if (current != nullptr && (std::strcmp(current, "C") == 0 || std::strcmp(current, "POSIX") == 0))
    std::setlocale(LC_MESSAGES, "C.UTF-8");
}

std::string FillIn(std::string_view text, std::initializer_list<std::string_view> values) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9' &&
        text[i + 2] == '}') {
      const size_t k = static_cast<size_t>(text[i + 1] - '1');
      if (k < values.size()) {
        out += values.begin()[k];
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

namespace message_detail {

std::string Lookup(const char* english) { return ::dgettext(kTextDomain, english); }

std::string LookupPlural(const char* singular, const char* plural, uint64_t n) {
  // ngettext takes an unsigned long, which holds any count on this platform.
  return ::dngettext(kTextDomain, singular, plural, static_cast<unsigned long>(n));
}

}  // namespace message_detail
}  // namespace mirel
