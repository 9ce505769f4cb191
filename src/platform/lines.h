// Cutting a text into lines. The formats the program reads disagree on what
// ends a line, so every reader names its rule (LineRule) and the rest of the
// work is shared. One template serves UTF-16 text and bytes. The scans are
// inline: loading a table, the conversions and the generators run them over
// millions of lines. Lines are views into the caller's text, which must
// outlive them. Pure and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace mirel {

// What ends a line.
enum class LineBreaks : uint8_t {
  // Any run of CR and LF is one break, so no line is empty.
  kRuns,
  // CR LF, a lone CR and a lone LF each end one line; empty lines are kept.
  kEach,
  // Only CR LF ends a line; a lone CR or LF is part of it.
  kCrLf,
  // Only LF ends a line; a CR is part of it.
  kLf,
};

struct LineRule {
  LineBreaks breaks = LineBreaks::kEach;
  // The longest line in units; the rest of a longer line is read as the next
  // line. A break right after the cut belongs to the cut line.
  size_t limit = SIZE_MAX;
  // With kRuns and kEach, NUL ends a line as LF does.
  bool nulEnds = false;
  // A cut at the limit never separates a UTF-16 surrogate pair: the pair
  // starts the next line.
  bool keepPairs = false;
};

namespace lines_internal {

template <class Char>
constexpr bool IsBreak(Char c, bool nulEnds) {
  return c == Char('\n') || c == Char('\r') || (nulEnds && c == Char(0));
}

// The first break of [from, to), or `to`. CR is the largest break, so most
// units are passed over by the first comparison.
template <class Char>
size_t FindBreak(const Char* t, size_t from, size_t to, bool nulEnds) {
  using Unit = std::make_unsigned_t<Char>;
  for (; from < to; ++from) {
    const Char c = t[from];
    if (static_cast<Unit>(c) <= Unit('\r') && IsBreak(c, nulEnds)) break;
  }
  return from;
}

template <class Char>
size_t FindCrLf(const Char* t, size_t from, size_t to, size_t size) {
  for (; from < to; ++from) {
    if (t[from] == Char('\r') && from + 1 < size && t[from + 1] == Char('\n')) break;
  }
  return from;
}

template <class Char>
size_t FindLf(std::basic_string_view<Char> text, size_t from, size_t to) {
  const size_t at = text.substr(0, to).find(Char('\n'), from);
  return at == std::basic_string_view<Char>::npos ? to : at;
}

}  // namespace lines_internal

// Past one CR LF, CR or LF at `pos`, if one is there.
template <class Char>
size_t SkipLineEnd(std::basic_string_view<Char> text, size_t pos) {
  if (pos < text.size() && text[pos] == Char('\r')) ++pos;
  if (pos < text.size() && text[pos] == Char('\n')) ++pos;
  return pos;
}

// Whether CR LF stands at `pos`.
template <class Char>
bool CrLfAt(std::basic_string_view<Char> text, size_t pos) {
  return pos + 1 < text.size() && text[pos] == Char('\r') && text[pos + 1] == Char('\n');
}

// Reads the line of `text` at `pos` and moves `pos` past it and its break.
// False at the end: a text ending in a break has no empty last line.
template <class Char>
bool NextLine(std::basic_string_view<Char> text, size_t& pos, const LineRule& rule,
              std::basic_string_view<Char>& line) {
  using namespace lines_internal;
  const Char* t = text.data();
  const size_t n = text.size();
  if (rule.breaks == LineBreaks::kRuns) {
    while (pos < n && IsBreak(t[pos], rule.nulEnds)) ++pos;
  }
  if (pos >= n) return false;
  const size_t start = pos;
  const size_t stop = rule.limit < n - start ? start + rule.limit : n;
  size_t end;
  switch (rule.breaks) {
    case LineBreaks::kCrLf:
      end = FindCrLf(t, start, stop, n);
      break;
    case LineBreaks::kLf:
      end = FindLf(text, start, stop);
      break;
    default:
      end = FindBreak(t, start, stop, rule.nulEnds);
      break;
  }
  if constexpr (sizeof(Char) == 2) {
    if (rule.keepPairs && end == stop && end < n && end - start > 1 && t[end - 1] >= 0xD800 &&
        t[end - 1] <= 0xDBFF && t[end] >= 0xDC00 && t[end] <= 0xDFFF) {
      --end;
    }
  }
  line = text.substr(start, end - start);
  pos = end;
  switch (rule.breaks) {
    case LineBreaks::kRuns:
      while (pos < n && IsBreak(t[pos], rule.nulEnds)) ++pos;
      break;
    case LineBreaks::kEach:
      if (pos < n && rule.nulEnds && t[pos] == Char(0)) {
        ++pos;
      } else {
        pos = SkipLineEnd(text, pos);
      }
      break;
    case LineBreaks::kCrLf:
      if (CrLfAt(text, pos)) pos += 2;
      break;
    case LineBreaks::kLf:
      if (pos < n && t[pos] == Char('\n')) ++pos;
      break;
  }
  return true;
}

// NextLine with the position and a count of lines kept.
template <class Char>
class BasicLineReader {
 public:
  using View = std::basic_string_view<Char>;

  explicit BasicLineReader(View text, LineRule rule = {}) : text_(text), rule_(rule) {}

  bool Next(View& line) {
    if (!NextLine(text_, pos_, rule_, line)) return false;
    ++number_;
    return true;
  }
  // Units consumed so far, the last line's break included.
  size_t offset() const { return pos_; }
  // Lines read so far.
  size_t number() const { return number_; }

 private:
  View text_;
  LineRule rule_;
  size_t pos_ = 0;
  size_t number_ = 0;
};

using LineReader = BasicLineReader<char16_t>;
using ByteLineReader = BasicLineReader<char>;

}  // namespace mirel
