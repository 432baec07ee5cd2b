/*
 * One exchange with the scanner: a command frame out, a response frame back.
 *
 * Nothing here keeps state or allocates: the command frame is built on the
 * stack, and a response is received into the caller's buffer and decrypted
 * in place there. The device's key is read afresh at every call, so a key
 * switch takes effect at the very next frame.
 */
#include "bluefin/framing.h"

#include <algorithm>
#include <array>
#include <numeric>

#include "bluefin/byte_order.h"
#include "bluefin/device_access.h"
#include "bluefin/protocol.h"
#include "support/errors.h"

using namespace vdm::bluefin;
using vdm::ArgumentNull;
using vdm::Fail;

namespace {

// Byte sums: the scanner's checksums add unsigned bytes and keep 16 bits.
VUInt16 Checksum16(const VUInt8 *p, VInt32 count) {
  return static_cast<VUInt16>(std::accumulate(p, p + count, VUInt32{0}));
}

}  // namespace

VResult BlueFinSendCommand(HVBlueFin hBlueFin, const VUInt8 *pCmd, VInt32 length) {
  if (hBlueFin == nullptr) {
    return ArgumentNull(L"hBlueFin");
  }
  if (pCmd == nullptr) {
    return ArgumentNull(L"pCmd");
  }
  if (length < kMinCommandLength || length > kMaxCommandLength) {
    return Fail(V_E_ARGUMENT_OUT_OF_RANGE, L"Expected command length is between 1 and 43 bytes");
  }

  const BlueFinDevice *pDevice = DeviceOf(hBlueFin);
  const auto encryptedSize = static_cast<VInt32>(RoundUpToBlocks(length));
  std::array<VUInt8, kMaxCommandFrameSize> frame{};
  VUInt8 *pEncrypted = frame.data() + kCommandHeaderSize;
  // The zero fill after the command is already there; the plaintext is
  // encrypted over itself, so it does not outlive this call on the stack.
  std::copy_n(pCmd, length, pEncrypted);
  BlueFinEncryptBlocks(pEncrypted, encryptedSize, pDevice->key, kKeyBits, pEncrypted);

  StoreBe16(static_cast<VUInt16>(length), frame.data() + kCommandLengthOffset);
  StoreBe16(Checksum16(pEncrypted, encryptedSize), frame.data() + kCommandDataChecksumOffset);
  StoreBe16(Checksum16(frame.data(), kCommandHeaderChecksumOffset),
            frame.data() + kCommandHeaderChecksumOffset);

  const VResult result =
      VBluetoothSocketSend(pDevice->hSocket, frame.data(),
                           static_cast<VUInt32>(kCommandHeaderSize + encryptedSize), kSendTimeoutMs);
  return VFailed(result) ? result : V_OK;
}

VResult BlueFinReceiveResponse(HVBlueFin hBlueFin, VUInt8 commandCode, VUInt8 *pBuffer, VInt32 capacity) {
  const BlueFinDevice *pDevice = DeviceOf(hBlueFin);
  // The scanner may still have answers to earlier commands queued, so frames
  // with another response code are skipped; a bounded number of them, so
  // that a confused peer cannot keep us reading for ever. Anything else that
  // is wrong ends the call at once and the stream is left where it stands.
  for (int frameIndex = 0; frameIndex < kMaxFramesPerResponse; ++frameIndex) {
    std::array<VUInt8, kResponseHeaderSize> header;
    VResult result =
        VBluetoothSocketReceive(pDevice->hSocket, header.data(), kResponseHeaderSize, kReceiveTimeoutMs);
    if (VFailed(result)) {
      return result;
    }

    // Both size tests come before any payload byte is read, so a hostile
    // length can never make us read past the caller's buffer.
    const auto payloadLength = static_cast<VInt32>(LoadBe32(header.data() + kResponseLengthOffset));
    if (payloadLength > capacity) {
      return Fail(V_E_FAILED, L"Invalid payload size received");
    }
    // A negative length rounds to something below one block.
    const VInt64 encryptedSize = RoundUpToBlocks(payloadLength);
    if (encryptedSize < kBlockSize || encryptedSize > capacity) {
      return Fail(V_E_FAILED, L"Invalid payload block size calculated");
    }
    const auto size = static_cast<VInt32>(encryptedSize);

    result =
        VBluetoothSocketReceive(pDevice->hSocket, pBuffer, static_cast<VUInt32>(size), kReceiveTimeoutMs);
    if (VFailed(result)) {
      return result;
    }

    if (Checksum16(pBuffer, size) != LoadBe16(header.data() + kResponseDataChecksumOffset)) {
      return Fail(V_E_CORRUPTED, L"Incorrect data checksum");
    }
    if (Checksum16(header.data(), kResponseHeaderChecksumOffset) !=
        LoadBe16(header.data() + kResponseHeaderChecksumOffset)) {
      return Fail(V_E_CORRUPTED, L"Incorrect header checksum");
    }

    BlueFinDecryptBlocks(pBuffer, size, pDevice->key, kKeyBits, pBuffer);
    if (pBuffer[0] == commandCode + kResponseCodeOffset) {
      return payloadLength;
    }
  }
  return Fail(V_E_FAILED, L"Cannot get response for sent command");
}
