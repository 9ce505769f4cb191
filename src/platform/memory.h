// Memory: returning memory to the system after the large temporary buffers
// of a load or an ordering, and telling how much there is to take, so that
// an input larger than the machine can hold is refused before it is read.
#pragma once

#include <cstdint>

namespace mirel {

// The allocator keeps freed blocks of this size for reuse, so without this a
// table's decoded text would stay resident as long as the program runs.
void ReleaseFreedMemory();

// Blocks of a MiB or more mapped on their own and unmapped when freed. By
// default the allocator raises that bound to the largest block freed so far,
// so a table's freed text would be kept and the next buffer laid beside it:
// a third more at the peak of a sort. Called once, first thing in main.
void ReturnLargeBlocksWhenFreed();

// Bytes this process may still take: available memory and free swap
// (/proc/meminfo), less what an address-space limit (RLIMIT_AS) leaves.
// UINT64_MAX when none of these can be read.
uint64_t AvailableMemory();

}  // namespace mirel
