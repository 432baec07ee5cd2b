// Instance records of the transport's two object types. Internal to
// bluetooth/.
#ifndef VDM_BLUETOOTH_TYPES_H
#define VDM_BLUETOOTH_TYPES_H

#include <v_core.h>

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

}  // namespace vdm::bluetooth

#endif  // VDM_BLUETOOTH_TYPES_H
