#include "store/character_class.h"

#include "platform/utf16.h"
#include "store/character_lists.h"

namespace mirel {

CharacterClassTable::CharacterClassTable() : masks_(0x10000, 0) {}

bool CharacterClassTable::AddList(std::span<const unsigned char> resourceBytes, uint32_t classBit) {
  if (resourceBytes.size() % 2 != 0) return false;
  for (size_t i = 0; i < resourceBytes.size(); i += 2) {
    // Little-endian whatever the host order; the lists are stored that way.
    char16_t unit = static_cast<char16_t>(resourceBytes[i] | (resourceBytes[i + 1] << 8));
    if (unit == 0) break;
    masks_[unit] |= classBit;
  }
  return true;
}

uint32_t CharacterClassTable::ClassBits(std::u16string_view text) const {
  uint32_t bits = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i;
      continue;
    }
    bits |= masks_[text[i]];
  }
  return bits;
}

std::unique_ptr<CharacterClassTable> CharacterClassTable::BuiltIn() {
  auto table = std::make_unique<CharacterClassTable>();
  for (const CharacterListResource& list : kCharacterLists) {
    // A list that cannot be read ends the loading; the later ones stay unread.
    if (!table->AddList({list.bytes, list.size}, list.classBit)) break;
  }
  return table;
}

}  // namespace mirel
