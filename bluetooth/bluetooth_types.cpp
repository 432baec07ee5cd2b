#include "bluetooth/bluetooth_types.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <mutex>

#include "module/vdm_bluefin_module_of.h"

namespace vdm::bluetooth {
namespace {

// Two threads asking for a type for the first time must not both register
// it; the lock is taken only until the type is published.
std::mutex gTypeRegistrationLock;

}  // namespace

VResult NewTypeDescriptor(const wchar_t *szName, VSizeType instanceSize, VObjectDisposeProc pDispose,
                          VObjectCompareProc pCompare, VTypeDescriptor **ppType) {
  if (ppType == nullptr)
    return ArgumentNull(L"ppType");
  void *pMemory = nullptr;
  VResult result = VCAlloc(sizeof(VTypeDescriptor), &pMemory);
  if (VFailed(result)) {
    VFree(pMemory);
    return result;
  }
  auto *pType = static_cast<VTypeDescriptor *>(pMemory);
  pType->pModuleOf = VdmBlueFinModuleOf;
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
  if (phType == nullptr)
    return ArgumentNull(L"ppType");
  HVType hType = pSlot->published.load(std::memory_order_acquire);
  if (hType == nullptr) {
    std::lock_guard<std::mutex> lock(gTypeRegistrationLock);
    if (pSlot->handle == nullptr) {
      VResult result = VTypeRegister(pInit, &pSlot->handle);
      if (VFailed(result))
        return result;
      pSlot->published.store(pSlot->handle, std::memory_order_release);
    }
    hType = pSlot->handle;
  }
  return VObjectGet(hType, phType);
}

// Built in a fixed buffer: nothing here may throw into a C caller.
VResult ArgumentNull(const wchar_t *szParameterName) {
  constexpr wchar_t kSuffix[] = L" is NULL";
  constexpr size_t kSuffixLength = sizeof(kSuffix) / sizeof(kSuffix[0]) - 1;
  wchar_t message[64];
  size_t length = std::min(std::wcslen(szParameterName), std::size(message) - kSuffixLength - 1);
  std::wmemcpy(message, szParameterName, length);
  std::wmemcpy(message + length, kSuffix, kSuffixLength + 1);
  return VErrorSetLastW(V_E_ARGUMENT_NULL, message, szParameterName, nullptr, nullptr, nullptr);
}

}  // namespace vdm::bluetooth
