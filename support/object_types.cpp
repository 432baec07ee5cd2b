#include "support/object_types.h"

#include <mutex>

#include "support/errors.h"

namespace vdm {
namespace {

std::atomic<VModuleOfProc> gOwningModule{nullptr};
// Two threads asking for a type for the first time must not both register
// it; the lock is taken only until the type is published.
std::mutex gTypeRegistrationLock;

}  // namespace

void SetOwningModule(VModuleOfProc pModuleOf) {
  gOwningModule.store(pModuleOf, std::memory_order_release);
}

VResult NewTypeDescriptor(const wchar_t *szName, VSizeType instanceSize, VObjectDisposeProc pDispose,
                          VObjectCompareProc pCompare, VTypeDescriptor **ppType) {
  if (ppType == nullptr) {
    return ArgumentNull(L"ppType");
  }
  void *pMemory = nullptr;
  const VResult result = VCAlloc(sizeof(VTypeDescriptor), &pMemory);
  if (VFailed(result)) {
    VFree(pMemory);
    return result;
  }
  auto *pType = static_cast<VTypeDescriptor *>(pMemory);
  pType->pModuleOf = gOwningModule.load(std::memory_order_acquire);
  pType->pBaseTypeOf = VObjectTypeOf;
  pType->descriptorSize = static_cast<VInt32>(sizeof(VTypeDescriptor));
  pType->descriptorSize2 = static_cast<VInt32>(sizeof(VTypeDescriptor));
  pType->baseInstanceSize = static_cast<VInt32>(sizeof(VObjectBase));
  pType->instanceSize = static_cast<VInt32>(instanceSize);
  pType->field84 = V_TYPE_FIELD84;
  pType->flags = V_TYPE_FLAGS_OBJECT;
  pType->field92 = V_TYPE_FIELD92;
  pType->szName = szName;
  pType->pDispose = pDispose;
  pType->pCompare = pCompare;
  *ppType = pType;
  return V_OK;
}

VResult TypeOf(VTypeInitProc pInit, TypeSlot *pSlot, HVType *phType) {
  if (phType == nullptr) {
    return ArgumentNull(L"phType");
  }
  HVType hType = pSlot->published.load(std::memory_order_acquire);
  if (hType == nullptr) {
    const std::lock_guard lock(gTypeRegistrationLock);
    if (pSlot->handle == nullptr) {
      const VResult result = VTypeRegister(pInit, &pSlot->handle);
      if (VFailed(result)) {
        return result;
      }
      pSlot->published.store(pSlot->handle, std::memory_order_release);
    }
    hType = pSlot->handle;
  }
  return VObjectGet(hType, phType);
}

VResult NewInstance(VTypeOfProc pTypeOf, HVObject *phObject) {
  const VResult result = VTypeAllocInstanceP(pTypeOf, phObject);
  if (VSucceeded(result) && *phObject == nullptr) {
    return FailBare(V_E_OUT_OF_MEMORY);
  }
  return result;
}

}  // namespace vdm
