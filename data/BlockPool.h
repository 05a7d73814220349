#pragma once

#include <cstddef>

// Where the large memory blocks of volumes come from, and where they go back to.
//
// Policy (the one place it is set):
// - Blocks of kMapThreshold bytes or more are anonymous mappings; smaller ones come from the
//   C library. The C library maps such blocks itself and unmaps them when freed, or trims them
//   off the heap's top: either way every load of a dataset of a few hundred thousand points
//   faulted in its megabyte-sized blocks afresh, which took longer than reading its files.
// - A mapping is rounded up to huge pages (2 MiB, with MADV_HUGEPAGE) from half a huge page on,
//   to 4 KiB pages below: fewer TLB misses when a view reads a block at random, without a
//   small block holding mostly unused memory.
// - Mappings given back are kept for reuse, the newest first, up to 1 GiB and 12 blocks in
//   all (the oldest are unmapped beyond that; a single block over 1 GiB is never kept). Every
//   load replaces both volumes with new ones of the same kind of size, and reusing memory the
//   process already has avoids a page fault per page, which is the larger part of a load's
//   cost in a virtual machine. A kept block is reused for a request it fits without wasting
//   more than half the request plus one mapping unit.
// - Under AddressSanitizer the threshold is 256 MiB, so that an access past a block's end is
//   reported, not lost in a mapping (absurd sizes still go to mmap, which refuses them instead
//   of aborting the process).
// The pool is process-wide, thread-safe and never destroyed: blocks may be released at exit.
namespace blockpool {

// True when a block of `bytes` is mapped (and pooled) rather than taken from the C library.
bool mapped(std::size_t bytes);

// A mapped block of at least `bytes`: a kept one if one fits, else a fresh mapping (always
// zero). `capacity` gets its mapped size. Zeroed unless the caller writes every byte itself.
// Null when the memory cannot be had.
void *acquire(std::size_t bytes, bool zeroed, std::size_t &capacity);

// Gives a block from acquire() back (kept or unmapped by the policy above).
void release(void *data, std::size_t capacity);

// Gives the memory of the whole pages within [data, data + bytes) of a block from acquire()
// back to the system while the block stays in use: they read as zero afterwards (a kept
// block handed out again is zeroed or written whole anyway).
void discard(void *data, std::size_t bytes);

} // namespace blockpool
