// Dispatch through the seam. Platform-independent: the module build links
// exactly one backend, which supplies PlatformDefault().
#include "bluetooth/platform/platform.h"

#include <atomic>

namespace vdm::platform {
namespace {

// Atomic so that a test swapping tables never races a reader on a helper
// thread; production code never writes it.
std::atomic<const PlatformCalls *> gOverride{nullptr};

}  // namespace

const PlatformCalls &Platform() {
  const PlatformCalls *pCalls = gOverride.load(std::memory_order_acquire);
  return pCalls != nullptr ? *pCalls : PlatformDefault();
}

void SetPlatformCalls(const PlatformCalls *pCalls) {
  gOverride.store(pCalls, std::memory_order_release);
}

}  // namespace vdm::platform
