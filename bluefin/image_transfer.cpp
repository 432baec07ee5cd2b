/*
 * The image transfer: twelve image-part exchanges, each decoded straight
 * into the image's pixel buffer before the next is asked for, with a
 * progress report after each that may stop or fail the transfer.
 *
 * Nothing is allocated but the image: one part buffer on the stack serves all
 * twelve parts, and the decoder writes into the image in place.
 */
#include <array>

#include "bluefin/bluefin.h"
#include "bluefin/delta_decoder.h"
#include "bluefin/device_access.h"
#include "bluefin/exchange.h"
#include "bluefin/protocol.h"
#include "support/errors.h"
#include "support/results.h"

using namespace vdm::bluefin;
using vdm::ArgumentNull;
using vdm::Fail;

namespace {

enum class Outcome { kComplete, kStopped };

VResult TransferParts(HVBlueFin hBlueFin, HVImage hImage, VUInt8 *pPixels, Outcome &outcome) {
  const BlueFinDevice *pDevice = DeviceOf(hBlueFin);
  DeltaDecoder decoder(pPixels);
  std::array<VUInt8, kImagePartCapacity> part{};
  for (int index = 0; index < kImagePartCount; ++index) {
    const std::array<VUInt8, kGetImagePartCommandLength - 1> arguments = {static_cast<VUInt8>(index)};
    const VResult payloadLength = ExchangeShortCommand(hBlueFin, Command::kGetImagePart, arguments, part);
    if (VFailed(payloadLength)) {
      return payloadLength;
    }
    if (payloadLength != kImagePartPayloadSize) {
      return Fail(V_E_CORRUPTED, L"Received compressed image part of unexpected size");
    }
    if (part[0] != ResponseCodeOf(Command::kGetImagePart) || part[kImagePartValidOffset] != kImagePartValid) {
      return Fail(V_E_INVALID_DATA, L"Received invalid image part");
    }
    const bool isLast = index == kImagePartCount - 1;
    decoder.Decode(part.data() + kImagePartDataOffset, isLast ? kGroupsInLastPart : kGroupsPerPart);

    // The callback may be swapped between parts; read it afresh each time.
    if (pDevice->pProgressCallback != nullptr) {
      const VInt32 percent = 100 * (index + 1) / kImagePartCount;
      const VResult verdict = pDevice->pProgressCallback(hBlueFin, percent, hImage, pDevice->pProgressParam);
      if (VFailed(verdict)) {
        return verdict;
      }
      if (verdict > 0) {
        outcome = Outcome::kStopped;
        return V_OK;
      }
    }
  }
  outcome = Outcome::kComplete;
  return V_OK;
}

}  // namespace

VResult V_CALL BlueFinGetImage(HVBlueFin hBlueFin, HVImage *phImage) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  if (phImage == nullptr) {
    return ArgumentNull(L"phImage");
  }
  if (DeviceOf(hBlueFin)->isSecureMode == 0) {
    return Fail(V_E_INVALID_OPERATION, L"Device is not in secure mode");
  }

  HVImage hImage = nullptr;
  VResult result = BlueFinCreateImage(&hImage);
  if (VFailed(result)) {
    return result;
  }
  void *pPixels = nullptr;
  Outcome outcome = Outcome::kComplete;
  if (VSucceeded(result = VImageGetPixelsPtr(hImage, &pPixels)) &&
      VSucceeded(result = TransferParts(hBlueFin, hImage, static_cast<VUInt8 *>(pPixels), outcome)) &&
      outcome == Outcome::kComplete) {
    *phImage = hImage;
    hImage = nullptr;
  }
  // Releases the image of a failed or stopped transfer; a handed-out image
  // must not be followed by a failure.
  result = vdm::ReleaseHalfMade(result, &hImage);
  if (VFailed(result)) {
    return result;
  }
  if (outcome == Outcome::kStopped) {
    *phImage = nullptr;
  }
  return V_OK;
}
