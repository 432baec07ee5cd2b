/*
 * The key commands: the link moves to a new AES-256 key, given, drawn at
 * random, or the device's default key.
 *
 * The switch has one fixed order. The command goes out under the old key and
 * its answer comes back under the old key; only once the scanner has said
 * yes do we set secure mode and then take the new key, so that the next
 * frame, in both directions, is the first under it. Anything that goes
 * wrong before that leaves the device on its old key, whatever the scanner
 * did with its own.
 */
#include <array>

#include "bluefin/bluefin.h"
#include "bluefin/device_access.h"
#include "bluefin/framing.h"
#include "bluefin/protocol.h"
#include "bluefin/secure_wipe.h"
#include "bluetooth/secure_random.h"
#include "support/errors.h"

using namespace vdm::bluefin;
using vdm::ArgumentNull;
using vdm::Fail;

namespace {

// The exchange after the argument tests; pKey holds kKeySize bytes.
VResult SwitchKey(HVBlueFin hBlueFin, const VUInt8 *pKey) {
  std::array<VUInt8, kSetKeyCommandBufferSize> command{};
  command[0] = CodeOf(Command::kSetKey);
  VResult result = VCopy(command.data() + kSetKeyKeyOffset, pKey, kKeySize);
  if (VSucceeded(result)) {
    result = BlueFinSendCommand(hBlueFin, command.data(), kSetKeyCommandLength);
  }
  SecureWipe(command);
  if (VFailed(result)) {
    return result;
  }

  std::array<VUInt8, kResponseCapacity> response{};
  const VResult payloadLength =
      BlueFinReceiveResponse(hBlueFin, CodeOf(Command::kSetKey), response.data(), kResponseCapacity);
  if (VFailed(payloadLength)) {
    return payloadLength;
  }
  if (payloadLength < kSetKeyMinPayload || response[kSetKeyResultOffset] != kSetKeyAccepted) {
    return Fail(V_E_FAILED, L"New AES key was not set");
  }
  BlueFinDevice *pDevice = DeviceOf(hBlueFin);
  pDevice->isSecureMode = 1;
  result = VCopy(pDevice->key, pKey, kKeySize);
  return VFailed(result) ? result : V_OK;
}

}  // namespace

VResult V_CALL BlueFinSetKey(HVBlueFin hBlueFin, const VUInt8 *pKey, VInt32 keyLength) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  if (pKey == nullptr) {
    return ArgumentNull(L"pKey");
  }
  if (keyLength != kKeySize) {
    return Fail(V_E_ARGUMENT, L"Only 256 bit (32 byte) keys are supported");
  }
  return SwitchKey(hBlueFin, pKey);
}

VResult V_CALL BlueFinSetRandomKey(HVBlueFin hBlueFin) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  // Session keys come from the platform's cryptographic generator: a key
  // anyone could predict would protect nothing.
  std::array<VUInt8, kKeySize> key;
  VResult result = VPlatformSecureRandom(key.data(), kKeySize);
  if (VSucceeded(result)) {
    result = SwitchKey(hBlueFin, key.data());
  }
  SecureWipe(key);
  return result;
}

VResult V_CALL BlueFinRestoreDefaultKey(HVBlueFin hBlueFin) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  const VResult result = BlueFinSetKey(hBlueFin, DeviceOf(hBlueFin)->defaultKey, kKeySize);
  return VFailed(result) ? result : V_OK;
}
