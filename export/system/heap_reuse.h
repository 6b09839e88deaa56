#pragma once

namespace brindle {

// Makes the C heap keep the large blocks it frees instead of handing them back to the system.
//
// Reading a tile allocates and frees buffers of several megabytes. By default the C library
// maps each one afresh and unmaps it when freed, so every tile pays page faults for all of its
// memory, and threads reading at once queue on the address-space lock. With this, a freed block
// serves the next tile. It changes process-wide heap settings, so call it once at start-up from
// the program (not from a library); where the C library offers no such settings it does
// nothing (on Windows the worker's own allocation functions keep freed blocks instead:
// kept_blocks.h).
void KeepFreedMemoryForReuse();

} // namespace brindle
