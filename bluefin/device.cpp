/*
 * The BlueFinDevice object: one open connection to a scanner, its keys and
 * the progress callback of image transfers; its host type; and the echo that
 * proves a new connection.
 */
#include <algorithm>
#include <array>

#include "bluefin/bluefin.h"
#include "bluefin/device_access.h"
#include "bluefin/framing.h"
#include "bluefin/protocol.h"
#include "bluefin/secure_wipe.h"
#include "support/errors.h"
#include "support/object_types.h"
#include "support/results.h"

using namespace vdm::bluefin;
using vdm::ArgumentNull;
using vdm::Fail;

namespace {

vdm::TypeSlot gDeviceType;

}  // namespace

VResult V_CALL BlueFinDeviceTypeInit(VTypeDescriptor **ppType) {
  return vdm::NewTypeDescriptor(L"BlueFinDevice", sizeof(BlueFinDevice), BlueFinDispose, nullptr, ppType);
}

VResult V_CALL BlueFinDeviceTypeOf(HVType *phType) {
  return vdm::TypeOf(BlueFinDeviceTypeInit, &gDeviceType, phType);
}

VResult V_CALL BlueFinCreate(HVBluetoothDevice hBluetoothDevice, HVBlueFin *phBlueFin) {
  if (hBluetoothDevice == nullptr) {
    return ArgumentNull(L"hBluetoothDevice");
  }
  if (phBlueFin == nullptr) {
    return ArgumentNull(L"phBlueFin");
  }

  HVBlueFin hBlueFin = nullptr;
  VResult result = vdm::NewInstance(BlueFinDeviceTypeOf, &hBlueFin);
  if (VFailed(result)) {
    return result;
  }

  BlueFinDevice *pDevice = DeviceOf(hBlueFin);
  if (VSucceeded(result = VBluetoothDeviceGetName(hBluetoothDevice, &pDevice->hName)) &&
      VSucceeded(result = VBluetoothDeviceToString(hBluetoothDevice, &pDevice->hAddress)) &&
      VSucceeded(result = VBluetoothDeviceConnect(hBluetoothDevice, kVBluetoothSerialPortServiceClass,
                                                  &pDevice->hSocket))) {
    // A scanner holds the default key whenever a connection opens; the echo
    // proves the link and that key at once.
    pDevice->isSecureMode = 0;
    std::copy_n(kDefaultKeyText, kKeySize, pDevice->defaultKey);
    std::copy_n(kDefaultKeyText, kKeySize, pDevice->key);
    result = BlueFinEcho(hBlueFin);
  }
  if (VSucceeded(result)) {
    // Handed out last: no release may fail after the caller owns it.
    *phBlueFin = hBlueFin;
    return V_OK;
  }
  // A half-built device goes here; its dispose closes what was opened.
  return vdm::ReleaseHalfMade(result, &hBlueFin);
}

VResult V_CALL BlueFinEcho(HVBlueFin hBlueFin) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  std::array<VUInt8, kEchoPatternSize> pattern;
  for (VInt32 i = 0; i < kEchoPatternSize; ++i) {
    pattern[i] = static_cast<VUInt8>(i);
  }
  std::array<VUInt8, kEchoCommandLength> command;
  command[0] = CodeOf(Command::kEcho);
  std::copy(pattern.begin(), pattern.end(), command.begin() + kEchoPatternOffset);

  VResult result = BlueFinSendCommand(hBlueFin, command.data(), kEchoCommandLength);
  if (VFailed(result)) {
    return result;
  }
  std::array<VUInt8, kResponseCapacity> response{};
  const VResult payloadLength =
      BlueFinReceiveResponse(hBlueFin, CodeOf(Command::kEcho), response.data(), kResponseCapacity);
  if (VFailed(payloadLength)) {
    return payloadLength;
  }
  if (payloadLength != kEchoCommandLength) {
    return Fail(V_E_FAILED, L"Response length is different from request length");
  }
  std::array<VUInt8, kEchoPatternSize> echoed;
  if (VFailed(result = VCopy(echoed.data(), response.data() + kEchoPatternOffset, kEchoPatternSize))) {
    return result;
  }
  if (echoed != pattern) {
    return Fail(V_E_FAILED, L"Invalid response from echo command");
  }
  return V_OK;
}

VResult V_CALL BlueFinDispose(HVObject hObject) {
  if (hObject == nullptr) {
    return ArgumentNull(L"hObject");
  }
  BlueFinDevice *pDevice = DeviceOf(hObject);
  // The session key must not outlive the connection it protected.
  SecureWipe(pDevice->key);
  // The socket's own dispose shuts the connection down and closes it. Each
  // field is released whatever the others give: nothing could free them
  // later. The first failure wins.
  VResult result = VObjectSet(nullptr, &pDevice->hSocket);
  result = vdm::FirstFailureWins(result, VStringSet(nullptr, &pDevice->hName));
  result = vdm::FirstFailureWins(result, VStringSet(nullptr, &pDevice->hAddress));
  return VFailed(result) ? result : V_OK;
}

VResult V_CALL BlueFinGetName(HVBlueFin hBlueFin, HVString *phName) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  const VResult result = VStringClone(DeviceOf(hBlueFin)->hName, phName);
  return VFailed(result) ? result : V_OK;
}

VResult V_CALL BlueFinGetAddress(HVBlueFin hBlueFin, HVString *phAddress) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  const VResult result = VStringClone(DeviceOf(hBlueFin)->hAddress, phAddress);
  return VFailed(result) ? result : V_OK;
}

VResult V_CALL BlueFinSetProgressCallback(HVBlueFin hBlueFin, BlueFinProgressCallback pCallback,
                                          void *pParam) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  BlueFinDevice *pDevice = DeviceOf(hBlueFin);
  pDevice->pProgressCallback = pCallback;
  pDevice->pProgressParam = pParam;
  return V_OK;
}
