// Memory: returning memory to the system after the large temporary buffers
// of a load or an ordering, and telling how much there is to take, so that
// an input larger than the machine can hold is refused before it is read.
#pragma once

#include <cstdint>

namespace mirel {

// The allocator keeps freed blocks of this size for reuse, so without this a
// table's decoded text would stay resident as long as the program runs.
void ReleaseFreedMemory();

// Bytes this process may still take: available memory and free swap
// (/proc/meminfo), less what an address-space limit (RLIMIT_AS) leaves.
// UINT64_MAX when none of these can be read.
uint64_t AvailableMemory();

}  // namespace mirel
