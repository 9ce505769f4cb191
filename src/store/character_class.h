// The character class table: one 32-bit mask per UTF-16 unit, telling which
// character lists (GB2312 level 1 or 2, Big5, CJK unified ideographs) hold
// the unit. The compiled-table writer ORs these masks into each entry's flags.
//
// A table owns its masks. Filling it (AddList) is not synchronised; once
// filled it is never changed, and any number of threads may read it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace mirel {

inline constexpr uint32_t kClassGb2312Level1 = 0x01000000;
inline constexpr uint32_t kClassGb2312Level2 = 0x02000000;
inline constexpr uint32_t kClassCjkUnified = 0x04000000;
inline constexpr uint32_t kClassBig5 = 0x08000000;

class CharacterClassTable {
 public:
  // All masks 0.
  CharacterClassTable();

  // ORs `classBit` into the mask of every unit of a UTF-16LE list, the mark
  // and the line feeds included, up to the first NUL unit or the end. A list
  // of odd size is refused: false, and nothing is marked.
  bool AddList(std::span<const unsigned char> resourceBytes, uint32_t classBit);

  uint32_t Mask(char16_t unit) const { return masks_[unit]; }

  // The OR of the masks of the text's units. A surrogate pair contributes
  // nothing; a lone surrogate contributes its own mask.
  uint32_t ClassBits(std::u16string_view text) const;

  // A table filled from the lists compiled into the program.
  static std::unique_ptr<CharacterClassTable> BuiltIn();

 private:
  std::vector<uint32_t> masks_;  // 65,536 entries, indexed by unit
};

}  // namespace mirel
