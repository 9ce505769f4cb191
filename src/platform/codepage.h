// The legacy code page of the tables' home platform: GBK (code page 936).
// Decoding never stops early: bytes that are not valid GBK become U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mirel {

std::u16string DecodeLegacyCodePage(std::string_view bytes);

// Encodes to GBK; characters GBK lacks become '?'. Used for writing test data
// and for output to terminals that are not UTF-8.
std::string EncodeLegacyCodePage(std::u16string_view text);

}  // namespace mirel
