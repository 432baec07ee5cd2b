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

VResult VPlatformSecureRandom(VUInt8 *pBuffer, VUInt32 size) {
  if (pBuffer == nullptr && size != 0) {
    return VErrorSetLastW(V_E_ARGUMENT_NULL, L"pBuffer is NULL", L"pBuffer", nullptr, nullptr, nullptr);
  }
  vdm::platform::Failure failure;
  if (size != 0 && !vdm::platform::Platform().secureRandom(pBuffer, size, &failure)) {
    return vdm::platform::RecordFailure(failure);
  }
  return V_OK;
}
