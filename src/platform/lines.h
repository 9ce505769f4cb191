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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/utf16.h"

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

template <class Char>
[[gnu::always_inline]] inline bool EndsLine(const Char* p, const Char* last, const LineRule& rule) {
  switch (rule.breaks) {
    case LineBreaks::kCrLf:
      return *p == Char('\r') && p != last && p[1] == Char('\n');
    case LineBreaks::kLf:
      return *p == Char('\n');
    default:
      return IsBreak(*p, rule.nulEnds);
  }
}

// Passes over the units that cannot end a line from `p`, a vector at a time
// where the processor can: stops at a CR, LF, NUL or (with `tabs`) TAB, or
// where less than a vector is left. Most units are none of these.
template <class Char>
[[gnu::always_inline]] inline const Char* SkipPlainUnits(const Char* p, const Char* end,
                                                         bool tabs) {
#if defined(__SSE2__)
  constexpr size_t kUnits = 16 / sizeof(Char);
  auto equal = [](__m128i v, char c) {
    if constexpr (sizeof(Char) == 2) return _mm_cmpeq_epi16(v, _mm_set1_epi16(c));
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(c));
  };
  while (static_cast<size_t>(end - p) >= kUnits) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i stop = _mm_or_si128(_mm_or_si128(equal(v, '\r'), equal(v, '\n')), equal(v, 0));
    if (tabs) stop = _mm_or_si128(stop, equal(v, '\t'));
    if (const int found = _mm_movemask_epi8(stop); found != 0) {
      return p + static_cast<unsigned>(__builtin_ctz(found)) / sizeof(Char);
    }
    p += kUnits;
  }
#else
  (void)end;
  (void)tabs;
#endif
  return p;
}

// The first break of [from, to), or `to`. With kFindTab also the offset from
// `from` of the first TAB before it, into `tab` if that is still npos: every
// break and TAB is at most CR, so most units are passed over by the first
// comparison. Without, a plain comparison keeps the TAB of a row from costing
// a mispredicted branch.
template <bool kFindTab, class Char>
[[gnu::always_inline]] inline size_t FindBreak(const Char* t, size_t from, size_t to, size_t size,
                                               const LineRule& rule, size_t& tab) {
  using Unit = std::make_unsigned_t<Char>;
  const Char* p = t + from;
  const Char* const end = t + to;
  const Char* const last = t + size - 1;
  for (; p != end; ++p) {
    // Once the first TAB is known, the others are plain units.
    p = SkipPlainUnits(p, end, kFindTab && tab == std::basic_string_view<Char>::npos);
    if (p == end) break;
    if constexpr (kFindTab) {
      if (static_cast<Unit>(*p) > Unit('\r')) continue;
      if (*p == Char('\t')) {
        if (tab == std::basic_string_view<Char>::npos) tab = static_cast<size_t>(p - t) - from;
        continue;
      }
    }
    if (EndsLine(p, last, rule)) break;
  }
  return static_cast<size_t>(p - t);
}

template <bool kFindTab, class Char>
[[gnu::always_inline]] inline bool NextLine(std::basic_string_view<Char> text, size_t& pos,
                                            const LineRule& rule,
                                            std::basic_string_view<Char>& line, size_t& tab) {
  const Char* t = text.data();
  const size_t n = text.size();
  if (rule.breaks == LineBreaks::kRuns) {
    while (pos < n && IsBreak(t[pos], rule.nulEnds)) ++pos;
  }
  if (pos >= n) return false;
  const size_t start = pos;
  const size_t stop = rule.limit < n - start ? start + rule.limit : n;
  tab = std::basic_string_view<Char>::npos;
  size_t end;
  if (!kFindTab && sizeof(Char) == 1 && rule.breaks == LineBreaks::kLf) {
    end = text.substr(0, stop).find(Char('\n'), start);  // memchr
    if (end == std::basic_string_view<Char>::npos) end = stop;
  } else {
    end = FindBreak<kFindTab>(t, start, stop, n, rule, tab);
  }
  if constexpr (sizeof(Char) == 2) {
    if (rule.keepPairs && end == stop && end < n && end - start > 1 &&
        IsHighSurrogate(t[end - 1]) && IsLowSurrogate(t[end])) {
      --end;
    }
  }
  line = std::basic_string_view<Char>(t + start, end - start);
  pos = end;
  switch (rule.breaks) {
    case LineBreaks::kRuns:
      while (pos < n && IsBreak(t[pos], rule.nulEnds)) ++pos;
      break;
    case LineBreaks::kEach:
      if (pos < n && t[pos] == Char('\r')) ++pos;
      if (pos < n && (t[pos] == Char('\n') || (rule.nulEnds && pos == end && t[pos] == Char(0))))
        ++pos;
      break;
    case LineBreaks::kCrLf:
      if (pos + 1 < n && t[pos] == Char('\r') && t[pos + 1] == Char('\n')) pos += 2;
      break;
    case LineBreaks::kLf:
      if (pos < n && t[pos] == Char('\n')) ++pos;
      break;
  }
  return true;
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
// False at the end: a text ending in a break has no empty last line. The
// overload with `tab` also gives the offset in the line of its first TAB
// (npos when it has none) from the same pass.
template <class Char>
[[gnu::always_inline]] inline bool NextLine(std::basic_string_view<Char> text, size_t& pos,
                                            const LineRule& rule,
                                            std::basic_string_view<Char>& line, size_t& tab) {
  return lines_internal::NextLine<true>(text, pos, rule, line, tab);
}
template <class Char>
[[gnu::always_inline]] inline bool NextLine(std::basic_string_view<Char> text, size_t& pos,
                                            const LineRule& rule,
                                            std::basic_string_view<Char>& line) {
  size_t tab;
  return lines_internal::NextLine<false>(text, pos, rule, line, tab);
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
  bool Next(View& line, size_t& tab) {
    if (!NextLine(text_, pos_, rule_, line, tab)) return false;
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
