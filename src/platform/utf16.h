// UTF-16 text utilities. All text inside the program is UTF-16; these helpers
// convert at the edges (UTF-8 file names and terminals), render the program's
// printf-style formats, and tell characters and surrogate pairs apart.
// Everything here is pure and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace mirel {

// Converts UTF-8 to UTF-16. Each ill-formed subsequence becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Appends the decoded text to `out`; returns the number of ill-formed pieces
// (each became one U+FFFD).
size_t AppendUtf8(std::string_view utf8, std::u16string& out);
// Decodes into out[0..utf8.size()): no sequence is shorter in UTF-16 than in
// UTF-8, so that much room always suffices. Returns the units written and
// adds the ill-formed pieces to `errors`.
size_t DecodeUtf8Into(std::string_view utf8, char16_t* out, size_t& errors);

// Converts UTF-16 to UTF-8. Lone surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// Appends one code point (not a surrogate) as UTF-8.
void AppendCodePointUtf8(std::string& out, char32_t cp);

// One argument of FormatText. Strings are borrowed for the call only.
using FormatArg =
    std::variant<std::u16string_view, long long, unsigned long long, double, char16_t>;

// Renders a printf-style format: %s %d %i %u %x %f %c %% with optional flags
// '-' and '0', a width and a precision. "%f" gives six decimals, like C. A
// placeholder without a matching argument renders as nothing.
std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatArg> args);
void AppendFormatted(std::u16string& out, std::u16string_view format,
                     std::initializer_list<FormatArg> args);

// Skips leading delimiters, then takes the units up to the next delimiter (or
// the end of `source`, or a NUL) into `out`, at most limit - 1 of them.
// Returns the index just past the last unit consumed. With the delimiters
// "\r\n" successive calls read the non-empty lines of a text.
size_t NextToken(std::u16string_view source, std::u16string_view delimiters, std::u16string& out,
                 size_t limit);

inline constexpr uint32_t kMalformedCount = 0x80000000u;

inline bool IsSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }
inline bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Counts characters up to the end or a NUL; a surrogate pair is one. A
// surrogate not followed by a low surrogate stops the count and sets bit 31.
uint32_t CountCharacters(std::u16string_view text);

// Unit order: unsigned 16-bit units compared up to the first difference, a
// proper prefix first. Returns -1, 0 or +1.
inline int CompareUnits(std::u16string_view a, std::u16string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Case folding of A-Z only, as option names are matched.
inline char16_t FoldAsciiUpper(char16_t u) { return (u >= u'A' && u <= u'Z') ? u + 32 : u; }
std::u16string FoldAscii(std::u16string_view text);

}  // namespace mirel
