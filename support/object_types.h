// The module's own object types (BlueFinDevice, VBluetoothDevice,
// VBluetoothSocket): their descriptors and their registration with the
// host, written once for every layer.
#ifndef VDM_SUPPORT_OBJECT_TYPES_H
#define VDM_SUPPORT_OBJECT_TYPES_H

#include <v_core.h>

#include <atomic>

namespace vdm {

// The owning module every descriptor names. The module sets it to its own
// VdmBlueFinModuleOf when it is built, before any type is registered, so
// that the layers below never refer to the module. Without a module (the
// protocol's and the transport's own tests) it stays null, which names no
// owner.
void SetOwningModule(VModuleOfProc pModuleOf);

// Allocates a zero-filled descriptor and fills it for a type of the owning
// module derived from the plain object type.
VResult NewTypeDescriptor(const wchar_t *szName, VSizeType instanceSize, VObjectDisposeProc pDispose,
                          VObjectCompareProc pCompare, VTypeDescriptor **ppType);

// A type handle, registered on first use and kept for the life of the
// process. handle is written only under the registration lock; published
// lets later readers skip the lock.
struct TypeSlot {
  HVType handle = nullptr;
  std::atomic<HVType> published{nullptr};
};

// The body of a type-of function: registers the type on first use, once
// however many threads ask at the same time, and hands out a new reference
// to it.
VResult TypeOf(VTypeInitProc pInit, TypeSlot *pSlot, HVType *phType);

// A new zero-filled instance of the type in *phObject, which must be empty.
// A host that gives no object and no failure is out of memory.
VResult NewInstance(VTypeOfProc pTypeOf, HVObject *phObject);

}  // namespace vdm

#endif  // VDM_SUPPORT_OBJECT_TYPES_H
