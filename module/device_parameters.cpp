// The two device-creation parameters and the slot that hands them out.
#include "module/module_state.h"
#include "module/vdm_bluefin.h"
#include "support/errors.h"

namespace vdm {
namespace {

// The host's attribute value for both parameters and their defaults.
constexpr VUInt32 kParameterAttributes = 0x10000000;

VResult CreateStringParameterDescriptor(const wchar_t *name, VTypeOfProc typeOf, VUInt32 attributes,
                                        const void *pDefaultValue, VInt32 defaultValueSize,
                                        HVParameterDescriptor *phDescriptor) {
  if (!typeOf) {
    return ArgumentNull(L"pTypeOf");
  }
  if (!pDefaultValue && defaultValueSize != 0) {
    return ArgumentNull(L"pDefaultValue");
  }
  VStringWrapper wrapper;
  HVString hName = nullptr;
  HVType hType = nullptr;
  HVValue hDefault = nullptr;
  VResult result = VStringCreateWrapperW(name, -1, &wrapper, &hName);
  if (VSucceeded(result)) {
    result = typeOf(&hType);
  }
  if (VSucceeded(result) && pDefaultValue) {
    result = VValueCreate(hType, pDefaultValue, defaultValueSize, 1, attributes, &hDefault);
  }
  if (VSucceeded(result)) {
    result = VCustomParameterDescriptorCreate(hName, hType, attributes, 0, hDefault, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, phDescriptor);
  }
  for (HVObject *slot : {&hDefault, &hType, &hName}) {
    result = ReleaseInto(result, slot);
  }
  return result;
}

VResult AddStringParameter(VList *list, const wchar_t *name, HVString hDefault) {
  HVParameterDescriptor hDescriptor = nullptr;
  VResult result = CreateStringParameterDescriptor(name, VStringTypeOf, kParameterAttributes, &hDefault,
                                                   sizeof(hDefault), &hDescriptor);
  if (VSucceeded(result)) {
    result = VListAddP(list, VCustomParameterDescriptorTypeOf, &hDescriptor, sizeof(hDescriptor));
  }
  return ReleaseInto(result, &hDescriptor);
}

}  // namespace

VResult BuildParameterDescriptors() {
  if (ParameterDescriptors) {
    return V_OK;
  }
  VList list{};
  HVString hDisplayDefault = nullptr;
  HVString hAddressDefault = nullptr;
  VResult result = VListInitP(&list, 0, VCustomParameterDescriptorTypeOf);
  const bool isListInitialized = VSucceeded(result);
  if (VSucceeded(result)) {
    result = VStringFormatW(&hDisplayDefault, L"{S} Device", kMake);
  }
  if (VSucceeded(result)) {
    result = AddStringParameter(&list, L"DisplayName", hDisplayDefault);
  }
  if (VSucceeded(result)) {
    result = VStringCreateFromStrOrCharsW(L"XX:XX:XX:XX:XX:XX", -1, &hAddressDefault);
  }
  if (VSucceeded(result)) {
    result = AddStringParameter(&list, L"BluetoothAddress", hAddressDefault);
  }
  if (VSucceeded(result)) {
    HVParameterDescriptor *descriptors = nullptr;
    VInt32 count = 0;
    result = VListDetachArrayP(&list, 0, VCustomParameterDescriptorTypeOf, &descriptors, &count);
    if (VSucceeded(result)) {
      ParameterDescriptors = descriptors;
      ParameterDescriptorCount = count;
      result = V_OK;
    }
  }
  for (HVString *slot : {&hDisplayDefault, &hAddressDefault}) {
    result = ReleaseInto(result, slot);
  }
  if (isListInitialized) {
    result = FirstFailureWins(result, VListDispose(&list));
  }
  return result;
}

void ReleaseParameterDescriptors() {
  if (ParameterDescriptors) {
    VObjectFreeArray(ParameterDescriptors, ParameterDescriptorCount);
    ParameterDescriptors = nullptr;
    ParameterDescriptorCount = 0;
  }
}

VResult V_CALL VdmBlueFinGetParameters(HVParameterDescriptor **parhParameters, VInt32 *pParameterCount) {
  PlugGuard guard;
  if (VFailed(guard.result())) {
    return guard.result();
  }
  if (!parhParameters) {
    return ArgumentNull(L"parhParameters");
  }
  if (!pParameterCount) {
    return ArgumentNull(L"pParameterCount");
  }
  VResult result = BuildParameterDescriptors();
  if (VSucceeded(result)) {
    result = VObjectGetArray(ParameterDescriptors, ParameterDescriptorCount, parhParameters, pParameterCount);
  }
  return VFailed(result) ? result : V_OK;
}

}  // namespace vdm
