/*
 * The BlueFinDevice object: one open connection to a scanner, its keys and
 * the progress callback of image transfers; its host type; and the echo that
 * proves a new connection.
 */
#include <algorithm>
#include <array>
#include <mutex>

#include "bluefin/bluefin.h"
#include "bluefin/device_access.h"
#include "bluefin/errors.h"
#include "bluefin/protocol.h"
#include "bluefin/secure_wipe.h"
#include "module/vdm_bluefin_module_of.h"

using namespace bluefin;

// The 36-byte base object and eight fields in the 32-bit layout.
static_assert(sizeof(void *) != 4 || sizeof(BlueFinDevice) == 124);
static_assert(sizeof(BlueFinDevice::key) == kKeySize && sizeof(BlueFinDevice::defaultKey) == kKeySize);

namespace {

// Set once, on first use, and kept for the life of the process.
HVType BlueFinDeviceType = nullptr;
// Creation is serialised by the module's monitor today; the type slot does
// not rely on that.
std::mutex BlueFinDeviceTypeLock;

}  // namespace

VResult V_CALL BlueFinDeviceTypeInit(VTypeDescriptor **ppType) {
  if (ppType == nullptr) {
    return FailNull(L"ppType is NULL", L"ppType");
  }
  void *pMemory = nullptr;
  const VResult result = VCAlloc(sizeof(VTypeDescriptor), &pMemory);
  if (VFailed(result)) {
    VFree(pMemory);
    return result;
  }
  auto *pDescriptor = static_cast<VTypeDescriptor *>(pMemory);
  pDescriptor->pModuleOf = VdmBlueFinModuleOf;
  pDescriptor->pBaseTypeOf = VObjectTypeOf;
  pDescriptor->descriptorSize = sizeof(VTypeDescriptor);
  pDescriptor->descriptorSize2 = sizeof(VTypeDescriptor);
  pDescriptor->field72 = 0;
  pDescriptor->baseInstanceSize = sizeof(VObjectBase);
  pDescriptor->instanceSize = sizeof(BlueFinDevice);
  pDescriptor->field84 = V_TYPE_FIELD84;
  pDescriptor->flags = V_TYPE_FLAGS_OBJECT;
  pDescriptor->field92 = V_TYPE_FIELD92;
  pDescriptor->szName = L"BlueFinDevice";
  pDescriptor->field184 = 0;
  pDescriptor->pDispose = BlueFinDispose;
  pDescriptor->pCompare = nullptr;
  *ppType = pDescriptor;
  return V_OK;
}

VResult V_CALL BlueFinDeviceTypeOf(HVType *phType) {
  const std::lock_guard lock(BlueFinDeviceTypeLock);
  if (BlueFinDeviceType == nullptr) {
    const VResult result = VTypeRegister(BlueFinDeviceTypeInit, &BlueFinDeviceType);
    if (VFailed(result)) {
      return result;
    }
  }
  const VResult result = VObjectGet(BlueFinDeviceType, phType);
  return VFailed(result) ? result : V_OK;
}

VResult V_CALL BlueFinCreate(HVBluetoothDevice hBluetoothDevice, HVBlueFin *phBlueFin) {
  if (hBluetoothDevice == nullptr) {
    return FailNull(L"hBluetoothDevice is NULL", L"hBluetoothDevice");
  }
  if (phBlueFin == nullptr) {
    return FailNull(L"phBlueFin is NULL", L"phBlueFin");
  }

  HVBlueFin hBlueFin = nullptr;
  VResult result = VTypeAllocInstanceP(BlueFinDeviceTypeOf, &hBlueFin);
  if (VFailed(result)) {
    return result;
  }
  if (hBlueFin == nullptr) {
    return FailBare(V_E_OUT_OF_MEMORY);
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
  const VResult releaseResult = VObjectSet(nullptr, &hBlueFin);
  return VFailed(releaseResult) ? releaseResult : result;
}

VResult V_CALL BlueFinEcho(HVBlueFin hBlueFin) {
  if (hBlueFin == nullptr) {
    return FailNull(L"hBlueFin is NULL", L"hBlueFin");
  }
  BlueFinDevice *pDevice = DeviceOf(hBlueFin);

  std::array<VUInt8, kEchoPatternSize> pattern;
  for (VInt32 i = 0; i < kEchoPatternSize; ++i) {
    pattern[i] = static_cast<VUInt8>(i);
  }
  std::array<VUInt8, kEchoCommandLength> command;
  command[0] = CodeOf(Command::kEcho);
  std::copy(pattern.begin(), pattern.end(), command.begin() + kEchoPatternOffset);

  VResult result = BlueFinSendCommand(pDevice, command.data(), kEchoCommandLength);
  if (VFailed(result)) {
    return result;
  }
  std::array<VUInt8, kResponseCapacity> response{};
  const VResult payloadLength =
      BlueFinReceiveResponse(pDevice, CodeOf(Command::kEcho), response.data(), kResponseCapacity);
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
    return FailNull(L"hObject is NULL", L"hObject");
  }
  BlueFinDevice *pDevice = DeviceOf(hObject);
  // The session key must not outlive the connection it protected.
  SecureWipe(pDevice->key);
  // The socket's own dispose shuts the connection down and closes it. Each
  // field is released whatever the others give: nothing could free them
  // later. The first failure is the result.
  const VResult results[] = {VObjectSet(nullptr, &pDevice->hSocket), VStringSet(nullptr, &pDevice->hName),
                             VStringSet(nullptr, &pDevice->hAddress)};
  for (VResult result : results) {
    if (VFailed(result)) {
      return result;
    }
  }
  return V_OK;
}

VResult V_CALL BlueFinGetName(HVBlueFin hBlueFin, HVString *phName) {
  if (hBlueFin == nullptr) {
    return FailNull(L"hBlueFin is NULL", L"hBlueFin");
  }
  const VResult result = VStringClone(DeviceOf(hBlueFin)->hName, phName);
  return VFailed(result) ? result : V_OK;
}

VResult V_CALL BlueFinGetAddress(HVBlueFin hBlueFin, HVString *phAddress) {
  if (hBlueFin == nullptr) {
    return FailNull(L"hBlueFin is NULL", L"hBlueFin");
  }
  const VResult result = VStringClone(DeviceOf(hBlueFin)->hAddress, phAddress);
  return VFailed(result) ? result : V_OK;
}

VResult V_CALL BlueFinSetProgressCallback(HVBlueFin hBlueFin, BlueFinProgressCallback pCallback,
                                          void *pParam) {
  if (hBlueFin == nullptr) {
    return FailNull(L"hBlueFin is NULL", L"hBlueFin");
  }
  BlueFinDevice *pDevice = DeviceOf(hBlueFin);
  pDevice->pProgressCallback = pCallback;
  pDevice->pProgressParam = pParam;
  return V_OK;
}
