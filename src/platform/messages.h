// Messages a user reads (errors, reports, notices) are written once, in
// English, as the argument of Tr() (TrN() when they count something), and
// looked up in the "mirel" catalogue of GNU gettext, so that xgettext finds
// them in the sources. Values go in by number, {1} to {9}, so that a
// translation can put them in its own order. Without a bound catalogue, or in
// the C locale, the English text comes back. Lookups are thread-safe; the
// set-up functions are for main() alone, before any thread starts.
#pragma once

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

namespace mirel {

inline constexpr const char* kTextDomain = "mirel";

// Takes the user's locale from the environment and binds the catalogue
// beside the program: <programFolder>/../share/locale when installed, the
// build tree's locale folder otherwise. Numbers stay in the C form, since
// results and scripts parse them.
void SetUpMessages(const std::filesystem::path& programFolder);

// The window's own texts are Chinese, so its messages are Chinese too unless
// the user's LANGUAGE names the languages wanted.
void PreferChineseMessages();

// `text` with {1}, {2}, ... replaced by the values in that order; other
// braces are kept.
std::string FillIn(std::string_view text, std::initializer_list<std::string_view> values);

namespace message_detail {
std::string Lookup(const char* english);
std::string LookupPlural(const char* singular, const char* plural, uint64_t n);
inline std::string_view AsText(std::string_view text) { return text; }
inline std::string AsText(std::integral auto n) { return std::to_string(n); }
}  // namespace message_detail

inline std::string Tr(const char* english) { return message_detail::Lookup(english); }

template <class... Values>
std::string Tr(const char* english, const Values&... values) {
  return FillIn(message_detail::Lookup(english),
                {std::string_view(message_detail::AsText(values))...});
}

// Chooses the form for `n` (English has two, Chinese one) and fills in the
// values; pass `n` among them when the text shows it.
template <class... Values>
std::string TrN(const char* singular, const char* plural, uint64_t n, const Values&... values) {
  return FillIn(message_detail::LookupPlural(singular, plural, n),
                {std::string_view(message_detail::AsText(values))...});
}

}  // namespace mirel
