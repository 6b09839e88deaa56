#pragma once

#include <cstddef>

namespace brindle {

// Backs the heap with the system's large pages (2 MB on x86-64) where it offers them on
// request.
//
// A process that builds its data from many small allocations touches a fresh 4 KB page every
// few dozen of them, and each first touch is a page fault: a run over 10,000 tiles takes some
// 5,000 of them, which on a virtual machine cost more than the run's own work. With large
// pages one fault maps 2 MB.
//
// The C library does this itself when GLIBC_TUNABLES asks it to, but it reads that variable
// only when a program starts. `AdviseLargePagesForHeap` gets the same for a program already
// running: it has the heap grow now by `bytes` and advises the system to back that stretch
// with large pages (later growth beyond it gets ordinary pages). Only the main thread's heap is
// covered, which is where a run's folders, paths and index are built. Call it once at start-up
// from the program (it changes process-wide heap settings). Where the C library or the system
// offer no such thing it does nothing.
void AdviseLargePagesForHeap(std::size_t bytes);

} // namespace brindle
