/*
 * The identity and status commands: one command frame, one response, and
 * the tests of that response's length and bytes. Offsets are into the
 * decrypted payload, whose byte 0 is the response code; bytes a layout does
 * not name are not looked at.
 */
#include <array>

#include "bluefin/bluefin.h"
#include "bluefin/byte_order.h"
#include "bluefin/device_access.h"
#include "bluefin/exchange.h"
#include "bluefin/protocol.h"
#include "support/errors.h"

using namespace vdm::bluefin;
using vdm::ArgumentNull;
using vdm::Fail;

namespace {

using Response = std::array<VUInt8, kResponseCapacity>;

VResult FailNotSecure() {
  return Fail(V_E_INVALID_OPERATION, L"Device is not in secure mode");
}

}  // namespace

VResult V_CALL BlueFinGetDeviceInfo(HVBlueFin hBlueFin, char *pModel, VUInt32 *pSerialNumber,
                                    VUInt8 *pValue12, VUInt8 *pValue13, VUInt32 *pValue14) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  Response response{};
  const VResult payloadLength = ExchangeShortCommand(hBlueFin, Command::kGetDeviceInfo, {}, response);
  if (VFailed(payloadLength)) {
    return payloadLength;
  }
  if (payloadLength < kDeviceInfoMinPayload) {
    return Fail(V_E_FAILED, L"Response is too short");
  }

  if (pModel != nullptr) {
    const VResult result = VCopy(pModel, response.data() + kDeviceInfoModelOffset, kDeviceInfoModelSize);
    if (VFailed(result)) {
      return result;
    }
    // The wire carries seven characters and no terminator; a shorter model
    // text is padded with zero bytes.
    pModel[kDeviceInfoModelSize] = '\0';
  }
  if (pSerialNumber != nullptr) {
    *pSerialNumber = LoadBe32(response.data() + kDeviceInfoSerialOffset);
  }
  if (pValue12 != nullptr) {
    *pValue12 = response[kDeviceInfoValue12Offset];
  }
  if (pValue13 != nullptr) {
    *pValue13 = response[kDeviceInfoValue13Offset];
  }
  if (pValue14 != nullptr) {
    *pValue14 = LoadBe16(response.data() + kDeviceInfoValue14Offset);
  }
  return V_OK;
}

VResult V_CALL BlueFinGetStatus(HVBlueFin hBlueFin, VUInt32 *pFlag12, VUInt32 *pFlag13,
                                VUInt32 *pIsImageReady, VUInt32 *pValue14) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  if (DeviceOf(hBlueFin)->isSecureMode == 0) {
    return FailNotSecure();
  }
  Response response{};
  const VResult payloadLength = ExchangeShortCommand(hBlueFin, Command::kGetStatus, {}, response);
  if (VFailed(payloadLength)) {
    return payloadLength;
  }
  if (payloadLength < kGetStatusMinPayload) {
    return Fail(V_E_FAILED, L"Response too short");
  }

  const VUInt8 captureState = response[kGetStatusCaptureStateOffset];
  if (pFlag12 != nullptr) {
    *pFlag12 = response[kGetStatusFlag12Offset] != 0 ? 1 : 0;
  }
  if (pFlag13 != nullptr) {
    *pFlag13 = captureState != 0 ? 1 : 0;
  }
  if (pIsImageReady != nullptr) {
    *pIsImageReady = captureState == kCaptureStateImageReady ? 1 : 0;
  }
  if (pValue14 != nullptr) {
    *pValue14 = LoadBe16(response.data() + kGetStatusValue14Offset);
  }
  return V_OK;
}

VResult V_CALL BlueFinSetStatus(HVBlueFin hBlueFin, VUInt32 status) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  if (DeviceOf(hBlueFin)->isSecureMode == 0) {
    return FailNotSecure();
  }
  // Only the low byte travels, but the answer is held against the whole
  // value: a status above 255 can never be confirmed.
  const std::array<VUInt8, kSetStatusCommandLength - 1> arguments = {static_cast<VUInt8>(status)};
  Response response{};
  const VResult payloadLength = ExchangeShortCommand(hBlueFin, Command::kSetStatus, arguments, response);
  if (VFailed(payloadLength)) {
    return payloadLength;
  }
  if (payloadLength < kSetStatusMinPayload) {
    return Fail(V_E_FAILED, L"Response too short");
  }
  if (static_cast<VUInt32>(response[kSetStatusResultOffset]) != status) {
    return Fail(V_E_FAILED, L"Status was not changed");
  }
  return V_OK;
}
