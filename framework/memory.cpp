#include "memory.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calls.h"
#include "objects.h"
#include "v_core.h"

namespace vfw::detail {
namespace {

// Placed before every tracked block; its size keeps the caller's part maximally aligned.
struct alignas(alignof(std::max_align_t)) BlockHeader {
  std::size_t size;
  std::uint32_t magic;
  std::uint32_t adopted;
};

constexpr std::uint32_t kBlockMagic = 0x56414C43u;  // "VALC"
constexpr std::uint32_t kFreedMagic = 0x56465245u;  // "VFRE"
// Anything larger is a caller's arithmetic gone wrong rather than a real request.
constexpr std::size_t kMaxBlockSize = static_cast<std::size_t>(PTRDIFF_MAX) / 2;

std::atomic<VInt64> gOutstanding{0};
std::atomic<VUInt64> gTotal{0};
std::atomic<VInt64> gLiveObjects{0};

BlockHeader *HeaderOf(const void *memory) {
  return reinterpret_cast<BlockHeader *>(const_cast<char *>(static_cast<const char *>(memory)) -
                                         sizeof(BlockHeader));
}

}  // namespace

void *TrackedAlloc(std::size_t size, bool zeroFill) noexcept {
  if (size > kMaxBlockSize) {
    return nullptr;
  }
  void *raw = zeroFill ? std::calloc(1, sizeof(BlockHeader) + size) : std::malloc(sizeof(BlockHeader) + size);
  if (raw == nullptr) {
    return nullptr;
  }
  auto *header = static_cast<BlockHeader *>(raw);
  header->size = size;
  header->magic = kBlockMagic;
  header->adopted = 0;
  gOutstanding.fetch_add(1, std::memory_order_relaxed);
  gTotal.fetch_add(1, std::memory_order_relaxed);
  return header + 1;
}

void *TrackedRealloc(void *memory, std::size_t size) noexcept {
  if (memory == nullptr) {
    return TrackedAlloc(size, false);
  }
  if (size > kMaxBlockSize || !IsTrackedBlock(memory)) {
    return nullptr;
  }
  void *raw = std::realloc(HeaderOf(memory), sizeof(BlockHeader) + size);
  if (raw == nullptr) {
    return nullptr;
  }
  auto *header = static_cast<BlockHeader *>(raw);
  header->size = size;
  return header + 1;
}

bool IsTrackedBlock(const void *memory) noexcept {
  return memory != nullptr && HeaderOf(memory)->magic == kBlockMagic;
}

void TrackedFree(void *memory) noexcept {
  if (memory == nullptr) {
    return;
  }
  BlockHeader *header = HeaderOf(memory);
  if (header->magic != kBlockMagic) {
    // Freeing what we did not hand out would corrupt the heap; refuse and say so.
    std::fprintf(stderr, "VFree: %p is not a block from VAlloc or VCAlloc (or is already freed)\n", memory);
    return;
  }
  header->magic = kFreedMagic;
  if (header->adopted == 0) {
    gOutstanding.fetch_sub(1, std::memory_order_relaxed);
  }
  std::free(header);
}

bool TrackedAdopt(void *memory) noexcept {
  if (!IsTrackedBlock(memory)) {
    return false;
  }
  BlockHeader *header = HeaderOf(memory);
  if (header->adopted == 0) {
    header->adopted = 1;
    gOutstanding.fetch_sub(1, std::memory_order_relaxed);
  }
  return true;
}

void NoteInstanceAllocated() noexcept {
  gTotal.fetch_add(1, std::memory_order_relaxed);
}
void NoteObjectCreated() noexcept {
  gLiveObjects.fetch_add(1, std::memory_order_relaxed);
  NoteInstanceAllocated();
}
void NoteObjectFreed() noexcept {
  gLiveObjects.fetch_sub(1, std::memory_order_relaxed);
}

VInt64 OutstandingAllocations() noexcept {
  return gOutstanding.load(std::memory_order_relaxed);
}
VUInt64 AllocationTotal() noexcept {
  return gTotal.load(std::memory_order_relaxed);
}
VInt64 LiveObjects() noexcept {
  return gLiveObjects.load(std::memory_order_relaxed);
}

}  // namespace vfw::detail

using namespace vfw::detail;

namespace {

VResult Allocate(VSizeType size, void **ppMemory, bool zeroFill) {
  if (ppMemory == nullptr) {
    return ArgumentNull(L"ppMemory");
  }
  void *memory = TrackedAlloc(size, zeroFill);
  if (memory == nullptr) {
    return ReportOutOfMemory();
  }
  *ppMemory = memory;
  return V_OK;
}

}  // namespace

V_API VResult V_CALL VAlloc(VSizeType size, void **ppMemory) {
  return Counted(__func__, [&] { return Allocate(size, ppMemory, false); });
}

V_API VResult V_CALL VCAlloc(VSizeType size, void **ppMemory) {
  return Counted(__func__, [&] { return Allocate(size, ppMemory, true); });
}

V_API void V_CALL VFree(void *pMemory) {
  TrackedFree(pMemory);
}

V_API VResult V_CALL VCopy(void *pDestination, const void *pSource, VSizeType count) {
  return Counted(__func__, [&] {
    if (count == 0) {
      return V_OK;
    }
    if (pDestination == nullptr) {
      return ArgumentNull(L"pDestination");
    }
    if (pSource == nullptr) {
      return ArgumentNull(L"pSource");
    }
    std::memmove(pDestination, pSource, count);  // overlapping ranges are allowed
    return V_OK;
  });
}

V_API VResult V_CALL VCompare(const void *pFirst, const void *pSecond, VSizeType count, VInt32 *pOrder) {
  return Counted(__func__, [&] {
    if (pOrder == nullptr) {
      return ArgumentNull(L"pOrder");
    }
    if (count == 0) {
      *pOrder = 0;
      return V_OK;
    }
    if (pFirst == nullptr) {
      return ArgumentNull(L"pFirst");
    }
    if (pSecond == nullptr) {
      return ArgumentNull(L"pSecond");
    }
    int order = std::memcmp(pFirst, pSecond, count);
    *pOrder = order < 0 ? -1 : (order > 0 ? 1 : 0);
    return V_OK;
  });
}
