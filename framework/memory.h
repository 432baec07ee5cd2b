// The framework's tracked heap: blocks handed out through VAlloc/VCAlloc (and the storage the
// framework allocates on a caller's behalf: list storage, handle arrays) carry a small header so
// that tests can count what is still outstanding.
#ifndef VFW_MEMORY_H
#define VFW_MEMORY_H

#include <cstddef>

#include "v_types.h"

namespace vfw::detail {

// Null when the size is absurd or the heap is exhausted; records nothing.
void *TrackedAlloc(std::size_t size, bool zeroFill) noexcept;
// Grows or shrinks a tracked block (null pointer: a new block); null on failure, old block kept.
void *TrackedRealloc(void *memory, std::size_t size) noexcept;
void TrackedFree(void *memory) noexcept;
// The block stays allocated but no longer counts as outstanding (type descriptors that the
// registry takes over). Returns false for a pointer that is not a live tracked block.
bool TrackedAdopt(void *memory) noexcept;
bool IsTrackedBlock(const void *memory) noexcept;

void NoteInstanceAllocated() noexcept;  // object instances count in the allocation total

VInt64 OutstandingAllocations() noexcept;
VUInt64 AllocationTotal() noexcept;
VInt64 LiveObjects() noexcept;

}  // namespace vfw::detail

#endif  // VFW_MEMORY_H
