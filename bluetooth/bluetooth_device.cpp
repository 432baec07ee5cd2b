// VBluetoothDevice: a display name and the 30-byte Bluetooth socket address
// record. Immutable once made; equality is the record's bytes alone.
#include <v_core.h>

#include <cstring>
#include <cwchar>

#include "bluetooth/bluetooth_types.h"
#include "bluetooth/platform/platform.h"
#include "bluetooth/v_bluetooth.h"
#include "support/errors.h"
#include "support/object_types.h"
#include "support/results.h"

using vdm::ArgumentNull;
using vdm::bluetooth::BluetoothDeviceInstance;
using vdm::bluetooth::InstanceOf;
using vdm::platform::Failure;
using vdm::platform::Platform;
using vdm::platform::RecordFailure;

const VUInt8 kVBluetoothSerialPortServiceClass[16] = {0x01, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,
                                                      0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

namespace {

vdm::TypeSlot gDeviceType;

// The address text buffer, and the form in which the platform may bracket
// the address: "(XX:XX:XX:XX:XX:XX)" reported as 38 long.
constexpr VUInt32 kAddressTextCapacity = 64;
constexpr VUInt32 kBracketedTextLength = 38;
constexpr size_t kAddressTextLength = 17;

BluetoothDeviceInstance *DeviceOf(HVObject hObject) {
  return InstanceOf<BluetoothDeviceInstance>(hObject);
}

}  // namespace

VResult V_CALL VBluetoothDeviceCreateFromString(HVString hName, HVString hAddress,
                                                HVBluetoothDevice *phBluetoothDevice) {
  VInt32 length = 0;
  const wchar_t *szAddress = nullptr;
  VResult result = VStringGetBufferW(hAddress, &length, &szAddress);
  if (VFailed(result)) {
    return result;
  }
  VBluetoothSocketAddress address{};
  Failure failure;
  // The address is converted before the name is looked at, so a bad address
  // is what a caller with both wrong hears about.
  if (!Platform().stringToAddress(szAddress != nullptr ? szAddress : L"", &address, &failure)) {
    return RecordFailure(failure);
  }
  return VBluetoothDeviceCreate(hName, &address, phBluetoothDevice);
}

VResult V_CALL VBluetoothDeviceCreate(HVString hName, const VBluetoothSocketAddress *pAddress,
                                      HVBluetoothDevice *phBluetoothDevice) {
  if (VStringIsEmpty(hName)) {
    return vdm::Fail(V_E_ARGUMENT, L"hName is NULL or an empty string", L"hName");
  }
  if (pAddress == nullptr) {
    return ArgumentNull(L"pAddress");
  }
  if (phBluetoothDevice == nullptr) {
    return ArgumentNull(L"phBluetoothDevice");
  }
  HVObject hLocal = nullptr;
  VResult result = vdm::NewInstance(VBluetoothDeviceTypeOf, &hLocal);
  if (VSucceeded(result)) {
    result = VStringSet(hName, &DeviceOf(hLocal)->hName);
  }
  if (VSucceeded(result)) {
    result = VCopy(&DeviceOf(hLocal)->address, pAddress, V_BLUETOOTH_ADDRESS_SIZE);
  }
  if (VSucceeded(result)) {
    *phBluetoothDevice = hLocal;  // the allocation's reference moves out
    hLocal = nullptr;
  }
  return vdm::ReleaseHalfMade(result, &hLocal);
}

VResult V_CALL VBluetoothDeviceGetName(HVBluetoothDevice hBluetoothDevice, HVString *phName) {
  if (hBluetoothDevice == nullptr) {
    return ArgumentNull(L"hBluetoothDevice");
  }
  if (phName == nullptr) {
    return ArgumentNull(L"phName");
  }
  return VStringClone(DeviceOf(hBluetoothDevice)->hName, phName);
}

VResult V_CALL VBluetoothDeviceToString(HVBluetoothDevice hBluetoothDevice, HVString *phString) {
  if (hBluetoothDevice == nullptr) {
    return ArgumentNull(L"hBluetoothDevice");
  }
  if (phString == nullptr) {
    return ArgumentNull(L"phString");
  }
  wchar_t text[kAddressTextCapacity] = {};
  VUInt32 textLength = kAddressTextCapacity;
  Failure failure;
  if (!Platform().addressToString(&DeviceOf(hBluetoothDevice)->address, text, &textLength, &failure)) {
    return RecordFailure(failure);
  }
  text[kAddressTextCapacity - 1] = L'\0';
  const wchar_t *szResult = text;
  if (textLength == kBracketedTextLength && text[0] == L'(') {
    // Keep only the address between the brackets.
    std::wmemmove(text, text + 1, kAddressTextLength);
    text[kAddressTextLength] = L'\0';
  }
  return VStringCreateFromStrOrCharsW(szResult, -1, phString);
}

VResult V_CALL VBluetoothDeviceConnect(HVBluetoothDevice hBluetoothDevice, const VUInt8 *pUuid,
                                       HVBluetoothSocket *phSocket) {
  if (hBluetoothDevice == nullptr) {
    return ArgumentNull(L"hBluetoothDevice");
  }
  if (pUuid == nullptr) {
    return ArgumentNull(L"pUuid");
  }
  if (phSocket == nullptr) {
    return ArgumentNull(L"phSocket");
  }
  // A copy: the device stays as made. The port stays as converted (zero),
  // so the platform finds the service's channel itself.
  VBluetoothSocketAddress address = DeviceOf(hBluetoothDevice)->address;
  std::memcpy(address.serviceClassId, pUuid, sizeof(address.serviceClassId));
  return VBluetoothSocketConnect(&address, phSocket);
}

VResult V_CALL VBluetoothDeviceCompare(HVObject hObject, HVObject hOther, VBool *pResult) {
  if (hObject == nullptr) {
    return ArgumentNull(L"hObject");
  }
  if (pResult == nullptr) {
    return ArgumentNull(L"pResult");
  }
  if (hOther == nullptr) {
    *pResult = V_FALSE;
    return V_OK;
  }
  if (hOther == hObject) {
    *pResult = V_TRUE;
    return V_OK;
  }
  // The host may offer an object of another type; its instance has no
  // address record to read.
  VBool isDevice = V_FALSE;
  VResult result = VObjectIsInstanceOfP(hOther, VBluetoothDeviceTypeOf, &isDevice);
  if (VFailed(result)) {
    return result;
  }
  if (!isDevice) {
    *pResult = V_FALSE;
    return V_OK;
  }
  VInt32 order = 0;
  result =
      VCompare(&DeviceOf(hObject)->address, &DeviceOf(hOther)->address, V_BLUETOOTH_ADDRESS_SIZE, &order);
  if (VFailed(result)) {
    return result;
  }
  *pResult = order == 0 ? V_TRUE : V_FALSE;
  return V_OK;
}

VResult V_CALL VBluetoothDeviceDispose(HVObject hObject) {
  if (hObject == nullptr) {
    return ArgumentNull(L"hObject");
  }
  return VStringSet(nullptr, &DeviceOf(hObject)->hName);
}

VResult V_CALL VBluetoothDeviceTypeOf(HVType *phType) {
  return vdm::TypeOf(VBluetoothDeviceTypeInit, &gDeviceType, phType);
}

VResult V_CALL VBluetoothDeviceTypeInit(VTypeDescriptor **ppType) {
  return vdm::NewTypeDescriptor(L"VBluetoothDevice", sizeof(BluetoothDeviceInstance), VBluetoothDeviceDispose,
                                VBluetoothDeviceCompare, ppType);
}
