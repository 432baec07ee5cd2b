// Instance records of the transport's two object types and the type
// registration they share. Internal to bluetooth/.
#ifndef VDM_BLUETOOTH_TYPES_H
#define VDM_BLUETOOTH_TYPES_H

#include <v_core.h>

#include <atomic>

#include "bluetooth/platform/platform.h"
#include "bluetooth/v_bluetooth.h"

namespace vdm::bluetooth {

struct BluetoothDeviceInstance {
  VObjectBase base;
  HVString hName;
  VBluetoothSocketAddress address;
};

struct BluetoothSocketInstance {
  VObjectBase base;
  platform::SocketHandle socketHandle;
  VBool isConnected;
};

static_assert(sizeof(VBluetoothSocketAddress) == V_BLUETOOTH_ADDRESS_SIZE);
static_assert(sizeof(void *) != 4 || sizeof(BluetoothDeviceInstance) == 72);
static_assert(sizeof(void *) != 4 || sizeof(BluetoothSocketInstance) == 44);

// The instance behind a handle: every instance record starts with the base.
template <typename Instance>
Instance *InstanceOf(HVObject hObject) {
  return reinterpret_cast<Instance *>(hObject);
}

// Allocates a zero-filled descriptor and fills it for a type of this module
// derived from the plain object type.
VResult NewTypeDescriptor(const wchar_t *szName, VSizeType instanceSize, VObjectDisposeProc pDispose,
                          VObjectCompareProc pCompare, VTypeDescriptor **ppType);

// A module-wide type handle, registered on first use. handle is written only
// under the registration lock; published lets later readers skip the lock.
struct TypeSlot {
  HVType handle = nullptr;
  std::atomic<HVType> published{nullptr};
};

// The body of a type-of function: registers the type on first use and hands
// out a new reference to it.
VResult TypeOf(VTypeInitProc pInit, TypeSlot *pSlot, HVType *phType);

// VErrorSetLastW(V_E_ARGUMENT_NULL, "<name> is NULL", name).
VResult ArgumentNull(const wchar_t *szParameterName);

}  // namespace vdm::bluetooth

#endif  // VDM_BLUETOOTH_TYPES_H
