// The host's table layout: slot n stands at index n - 1.
#include <v_devices.h>

#include <cstddef>

namespace {

constexpr size_t SlotOffset(size_t slot) {
  return (slot - 1) * sizeof(void *);
}

static_assert(offsetof(VDeviceManagerInterface, pGetDeviceTypes) == SlotOffset(1));
static_assert(offsetof(VDeviceManagerInterface, pGetDeviceType) == SlotOffset(7));
static_assert(offsetof(VDeviceManagerInterface, pGetId) == SlotOffset(9));
static_assert(offsetof(VDeviceManagerInterface, pGetSerialNumber) == SlotOffset(13));
static_assert(offsetof(VDeviceManagerInterface, pCancel) == SlotOffset(24));
static_assert(offsetof(VDeviceManagerInterface, pCapture) == SlotOffset(27));
static_assert(offsetof(VDeviceManagerInterface, pGetDeviceCreationSupport) == SlotOffset(37));
static_assert(offsetof(VDeviceManagerInterface, pRemoveDevice) == SlotOffset(40));
static_assert(sizeof(VDeviceManagerInterface) == V_DEVICE_MANAGER_SLOT_COUNT * sizeof(void *));
static_assert(offsetof(VDeviceManagerCallbacks, pOnDeviceAdded) == 1 * sizeof(void *));
static_assert(offsetof(VDeviceManagerCallbacks, pOnDeviceRemoved) == 3 * sizeof(void *));

// The host's 32-bit figures.
static_assert(sizeof(void *) != 4 || sizeof(VObjectBase) == 36);
static_assert(sizeof(void *) != 4 || sizeof(VTypeDescriptor) == 384);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, pModuleOf) == 56);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, descriptorSize) == 64);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, instanceSize) == 80);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, flags) == 88);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, szName) == 100);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, field184) == 184);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, pDispose) == 252);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, pCompare) == 276);

}  // namespace
