#include "platform/utf16.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/large_buffer.h"

namespace mirel {

namespace {

// Decodes as much of p[i..n) as fits in out[0..room), room >= 8. Returns the
// units written and advances i. Ill-formed pieces become one U+FFFD each
// (maximal subpart rule) and are counted in `errors`.
size_t DecodeChunk(const unsigned char* p, size_t n, size_t& i, char16_t* out, size_t room,
                   size_t& errors) {
  size_t o = 0;
  while (i < n && o + 8 <= room) {
    unsigned char b = p[i];
    if (b < 0x80) {
      // ASCII runs dominate codes; take eight bytes at a time.
      if (i + 8 <= n) {
        uint64_t chunk;
        std::memcpy(&chunk, p + i, 8);
        if ((chunk & 0x8080808080808080ull) == 0) {
          for (int k = 0; k < 8; ++k) out[o + k] = p[i + k];
          o += 8;
          i += 8;
          continue;
        }
      }
      out[o++] = b;
      ++i;
      continue;
    }
    // Well-formed three-byte sequences (all common Han characters) first.
    if ((b & 0xF0) == 0xE0 && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
      uint32_t cp =
          (uint32_t{b} & 0x0F) << 12 | (uint32_t{p[i + 1]} & 0x3F) << 6 | (p[i + 2] & 0x3F);
      if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
        out[o++] = static_cast<char16_t>(cp);
        i += 3;
        continue;
      }
    }
    uint32_t cp = 0;
    size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      out[o++] = 0xFFFD;
      ++errors;
      ++i;
      continue;
    }
    size_t j = 1;
    bool ok = true;
    for (; j <= need; ++j) {
      if (i + j >= n) {
        ok = false;
        break;
      }
      unsigned char c = p[i + j];
      unsigned char l = (j == 1) ? lo : 0x80, h = (j == 1) ? hi : 0xBF;
      if (c < l || c > h) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok) {
      out[o++] = 0xFFFD;
      ++errors;
      i += j;
      continue;
    }
    i += need + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out[o++] = static_cast<char16_t>(cp);
    }
  }
  return o;
}

}  // namespace

size_t AppendUtf8(std::string_view utf8, std::u16string& out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  // Reserving by bytes only claims address space: pages never written are
  // never resident.
  out.reserve(out.size() + utf8.size());
  AdviseHugePages(out.data() + out.size(), (out.capacity() - out.size()) * sizeof(char16_t));
  char16_t buffer[4096];
  size_t i = 0, errors = 0;
  while (i < utf8.size()) {
    out.append(buffer, DecodeChunk(bytes, utf8.size(), i, buffer, std::size(buffer), errors));
  }
  return errors;
}

size_t DecodeUtf8Into(std::string_view utf8, char16_t* out, size_t& errors) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  size_t i = 0;
  // A chunk writes no more units than it reads bytes, so it only stops for
  // room with fewer than eight bytes left; those go through a small buffer.
  size_t o = DecodeChunk(bytes, n, i, out, n, errors);
  while (i < n) {
    char16_t tail[16];
    const size_t k = DecodeChunk(bytes, n, i, tail, std::size(tail), errors);
    std::memcpy(out + o, tail, k * sizeof(char16_t));
    o += k;
  }
  return o;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  AppendUtf8(utf8, out);
  return out;
}

void AppendCodePointUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size() * 3);
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (IsSurrogate(static_cast<char16_t>(cp))) {
      cp = 0xFFFD;
    }
    AppendCodePointUtf8(out, cp);
  }
  return out;
}

namespace {

void AppendAscii(std::u16string& out, const char* s) {
  while (*s) out += static_cast<char16_t>(static_cast<unsigned char>(*s++));
}

struct FieldFormat {
  bool left = false;
  bool zero = false;
  int width = -1;
  int precision = -1;
};

void Pad(std::u16string& out, std::u16string_view body, const FieldFormat& field, bool numeric) {
  size_t width = field.width < 0 ? 0 : static_cast<size_t>(field.width);
  if (body.size() >= width) {
    out += body;
    return;
  }
  size_t pad = width - body.size();
  if (field.left) {
    out += body;
    out.append(pad, u' ');
  } else if (field.zero && numeric) {
    size_t sign = (!body.empty() && body[0] == u'-') ? 1 : 0;
    out += body.substr(0, sign);
    out.append(pad, u'0');
    out += body.substr(sign);
  } else {
    out.append(pad, u' ');
    out += body;
  }
}

}  // namespace

void AppendFormatted(std::u16string& out, std::u16string_view format,
                     std::initializer_list<FormatArg> args) {
  auto next = args.begin();
  char buf[512];
  for (size_t i = 0; i < format.size(); ++i) {
    char16_t c = format[i];
    if (c != u'%') {
      out += c;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    FieldFormat field;
    const size_t start = i;
    size_t j = i + 1;
    for (; j < format.size() && (format[j] == u'-' || format[j] == u'0'); ++j) {
      (format[j] == u'-' ? field.left : field.zero) = true;
    }
    for (; j < format.size() && format[j] >= u'0' && format[j] <= u'9'; ++j) {
      field.width = std::max(field.width, 0) * 10 + (format[j] - u'0');
    }
    if (j < format.size() && format[j] == u'.') {
      field.precision = 0;
      for (++j; j < format.size() && format[j] >= u'0' && format[j] <= u'9'; ++j) {
        field.precision = field.precision * 10 + (format[j] - u'0');
      }
    }
    // Length modifiers are accepted and ignored: arguments carry their type.
    while (j < format.size() && (format[j] == u'l' || format[j] == u'h' || format[j] == u'z')) ++j;
    if (j >= format.size()) {
      out += format.substr(i);
      return;
    }
    char16_t conv = format[j];
    i = j;
    if (next == args.end()) continue;
    const FormatArg& arg = *next++;
    auto asSigned = [&]() -> long long {
      if (auto* v = std::get_if<long long>(&arg)) return *v;
      if (auto* v = std::get_if<unsigned long long>(&arg)) return static_cast<long long>(*v);
      if (auto* v = std::get_if<double>(&arg)) return static_cast<long long>(*v);
      if (auto* v = std::get_if<char16_t>(&arg)) return *v;
      return 0;
    };
    switch (conv) {
      case u's': {
        std::u16string_view s;
        if (auto* v = std::get_if<std::u16string_view>(&arg)) s = *v;
        if (field.precision >= 0 && s.size() > static_cast<size_t>(field.precision)) {
          s = s.substr(0, field.precision);
        }
        Pad(out, s, field, false);
        break;
      }
      case u'd':
      case u'i': {
        std::snprintf(buf, sizeof buf, "%lld", asSigned());
        std::u16string body;
        AppendAscii(body, buf);
        Pad(out, body, field, true);
        break;
      }
      case u'u':
      case u'x':
      case u'X': {
        unsigned long long v = static_cast<unsigned long long>(asSigned());
        if (auto* u = std::get_if<unsigned long long>(&arg)) v = *u;
        std::snprintf(buf, sizeof buf, conv == u'u' ? "%llu" : (conv == u'x' ? "%llx" : "%llX"), v);
        std::u16string body;
        AppendAscii(body, buf);
        Pad(out, body, field, true);
        break;
      }
      case u'f': {
        double v = static_cast<double>(asSigned());
        if (auto* d = std::get_if<double>(&arg)) v = *d;
        int precision = field.precision < 0 ? 6 : std::min(field.precision, 60);
        std::u16string body;
        if (std::isfinite(v) && std::fabs(v) < 1e300) {
          std::snprintf(buf, sizeof buf, "%.*f", precision, v);
          AppendAscii(body, buf);
        } else {
          std::snprintf(buf, sizeof buf, "%f", v);
          AppendAscii(body, buf);
        }
        Pad(out, body, field, true);
        break;
      }
      case u'c': {
        char16_t ch = 0;
        if (auto* v = std::get_if<char16_t>(&arg)) {
          ch = *v;
        } else {
          ch = static_cast<char16_t>(asSigned());
        }
        Pad(out, std::u16string_view(&ch, 1), field, false);
        break;
      }
      default:
        // Unknown conversion: keep the text as written.
        out += format.substr(start, j - start + 1);
        break;
    }
  }
}

std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatArg> args) {
  std::u16string out;
  AppendFormatted(out, format, args);
  return out;
}

size_t NextToken(std::u16string_view source, std::u16string_view delimiters, std::u16string& out,
                 size_t limit) {
  out.clear();
  auto isDelimiter = [&](char16_t u) { return delimiters.find(u) != std::u16string_view::npos; };
  size_t i = 0;
  while (i < source.size() && source[i] != 0 && isDelimiter(source[i])) ++i;
  while (i < source.size() && source[i] != 0 && !isDelimiter(source[i]) && out.size() + 1 < limit) {
    out += source[i++];
  }
  return i;
}

uint32_t CountCharacters(std::u16string_view text) {
  uint32_t count = 0;
  for (size_t i = 0; i < text.size() && text[i] != 0; ++i) {
    if (IsSurrogate(text[i])) {
      if (i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        ++i;
      } else {
        return count | kMalformedCount;
      }
    }
    ++count;
  }
  return count;
}

std::u16string FoldAscii(std::u16string_view text) {
  std::u16string out(text);
  for (auto& u : out) u = FoldAsciiUpper(u);
  return out;
}

}  // namespace mirel
