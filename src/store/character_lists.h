// The five character lists the character class table is built from, compiled
// into the program from resources/charlists. Each list is UTF-16LE with the
// mark FF FE, one character a line, lines separated by a single LF.
//
// The bytes are static, read-only data owned by the program; any thread may
// read them at any time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mirel {

struct CharacterListResource {
  int number;
  uint32_t classBit;
  const unsigned char* bytes;
  size_t size;
};

inline constexpr size_t kCharacterListCount = 5;

// In loading order: 110, 111, 108, 109, 112.
extern const CharacterListResource kCharacterLists[kCharacterListCount];

}  // namespace mirel
