// Returning memory to the system after the large temporary buffers of a load
// or an ordering. The allocator keeps freed blocks of this size for reuse, so
// without this a table's decoded text would stay resident as long as the
// program runs.
#pragma once

namespace mirel {

void ReleaseFreedMemory();

}  // namespace mirel
