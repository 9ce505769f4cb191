#include "platform/memory.h"

#include <malloc.h>

namespace mirel {

void ReleaseFreedMemory() { ::malloc_trim(0); }

}  // namespace mirel
