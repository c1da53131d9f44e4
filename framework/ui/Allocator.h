// How the window's process asks glibc to allocate.
#pragma once

#include <malloc.h>

namespace quorrel {

// Call first thing in main().
inline void TuneAllocator() {
    // Files are parsed on worker threads. glibc gives such a thread an arena
    // of its own that grows a page at a time, which made parsing a large file
    // half again as slow as on the main thread; one arena for all avoids that.
    mallopt(M_ARENA_MAX, 1);
    // A replaced DOM is freed on a thread of its own: millions of small
    // chunks. In fast bins they would wait there until the next allocation
    // of a kilobyte or more consolidated them all at once, under the arena's
    // lock, whichever thread asked; on the window's thread that held painting
    // up for 0.2 to 0.5 s on 50 MB. Without fast bins each free is merged
    // where it happens, on the thread that frees.
    mallopt(M_MXFAST, 0);
}

}  // namespace quorrel
