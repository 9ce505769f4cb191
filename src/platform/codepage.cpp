#include "platform/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <cstring>

namespace mirel {
namespace {

constexpr const char* kCodePage = "CP936";

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

std::u16string DecodeLegacyCodePage(std::string_view bytes) {
  std::u16string out;
  // Plain ASCII needs no converter, and is the common case for codes.
  size_t ascii = 0;
  while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
  out.reserve(bytes.size());
  for (size_t i = 0; i < ascii; ++i) out += static_cast<char16_t>(bytes[i]);
  if (ascii == bytes.size()) return out;

  Converter cv("UTF-16LE", kCodePage);
  if (!cv.ok()) {
    for (size_t i = ascii; i < bytes.size(); ++i) {
      unsigned char b = static_cast<unsigned char>(bytes[i]);
      out += b < 0x80 ? static_cast<char16_t>(b) : u'\uFFFD';
    }
    return out;
  }
  std::string chunk(64 * 1024, '\0');
  char* in = const_cast<char*>(bytes.data()) + ascii;
  size_t inLeft = bytes.size() - ascii;
  auto flush = [&](size_t produced) {
    for (size_t k = 0; k + 1 < produced; k += 2) {
      out += static_cast<char16_t>(static_cast<unsigned char>(chunk[k]) |
                                   (static_cast<unsigned char>(chunk[k + 1]) << 8));
    }
  };
  while (inLeft > 0) {
    char* dst = chunk.data();
    size_t dstLeft = chunk.size();
    size_t r = iconv(cv.get(), &in, &inLeft, &dst, &dstLeft);
    flush(chunk.size() - dstLeft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or an incomplete sequence at the end: replace one byte, go on.
    out += u'\uFFFD';
    ++in;
    --inLeft;
    iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

std::string EncodeLegacyCodePage(std::u16string_view text) {
  std::string out;
  Converter cv(kCodePage, "UTF-16LE");
  if (!cv.ok()) return out;
  std::string src(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  char* in = src.data();
  size_t inLeft = src.size();
  std::string chunk(64 * 1024, '\0');
  while (inLeft > 0) {
    char* dst = chunk.data();
    size_t dstLeft = chunk.size();
    size_t r = iconv(cv.get(), &in, &inLeft, &dst, &dstLeft);
    out.append(chunk.data(), chunk.size() - dstLeft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    out += '?';
    size_t skip = std::min<size_t>(inLeft, 2);
    in += skip;
    inLeft -= skip;
  }
  return out;
}

}  // namespace mirel
