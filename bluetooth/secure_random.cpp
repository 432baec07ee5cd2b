// The random draw for the layers above the transport, through the seam.
#include "bluetooth/secure_random.h"

#include "bluetooth/platform/platform.h"
#include "support/errors.h"

VResult VPlatformSecureRandom(VUInt8 *pBuffer, VUInt32 size) {
  if (pBuffer == nullptr && size != 0) {
    return vdm::ArgumentNull(L"pBuffer");
  }
  vdm::platform::Failure failure;
  if (size != 0 && !vdm::platform::Platform().secureRandom(pBuffer, size, &failure)) {
    return vdm::platform::RecordFailure(failure);
  }
  return V_OK;
}
