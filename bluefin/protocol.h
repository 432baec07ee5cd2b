/*
 * The BlueFin wire protocol in one place: command codes, frame layouts,
 * payload offsets, capacities and the image coding's geometry.
 *
 * Every exchange is one command frame from us and one response frame from
 * the scanner. Header numbers are big-endian; both checksums are plain byte
 * sums over the ciphertext (never the plaintext), and each header checksum
 * also covers the data checksum in front of it.
 *
 *   Command frame, 6 + 16 n bytes (n = 1..3):
 *     0  u16 BE  command length L (1..43)
 *     2  u16 BE  data checksum: sum of the 16 n encrypted bytes
 *     4  u16 BE  header checksum: sum of bytes 0..3
 *     6  16 n    AES-256-ECB(command bytes, then zero fill)
 *
 *   Response frame, 8 + 16 m bytes:
 *     0  i32 BE  payload length P (read signed: the scanner is not trusted)
 *     4  u16 BE  data checksum: sum of the 16 m encrypted bytes, mod 65536
 *     6  u16 BE  header checksum: sum of bytes 0..5
 *     8  16 m    AES-256-ECB(payload, then fill); payload byte 0 is the
 *                command code + 0x80
 */
#ifndef BLUEFIN_PROTOCOL_H
#define BLUEFIN_PROTOCOL_H

#include <v_types.h>

#include <array>
#include <cstddef>

namespace vdm::bluefin {

// ---------------------------------------------------------------------------
// Cipher

inline constexpr VInt32 kKeySize = 32;
inline constexpr VInt32 kKeyBits = kKeySize * 8;
inline constexpr VInt32 kBlockSize = 16;

// The key every scanner holds after power-on and every connection starts
// with: the 32 ASCII bytes below, no terminating zero.
inline constexpr char kDefaultKeyText[] = "Tremolo Quaxbin Fendrowit Saylor";
static_assert(sizeof(kDefaultKeyText) - 1 == kKeySize);

// Rounds a byte count up to whole cipher blocks, without overflowing for any
// 32-bit count (a signed count from the wire may be anything).
constexpr VInt64 RoundUpToBlocks(VInt64 count) {
  return (count + (kBlockSize - 1)) & ~VInt64{kBlockSize - 1};
}

// ---------------------------------------------------------------------------
// Frames

inline constexpr VInt32 kCommandHeaderSize = 6;
inline constexpr VInt32 kCommandLengthOffset = 0;
inline constexpr VInt32 kCommandDataChecksumOffset = 2;
inline constexpr VInt32 kCommandHeaderChecksumOffset = 4;
inline constexpr VInt32 kMinCommandLength = 1;
inline constexpr VInt32 kMaxCommandLength = 43;
inline constexpr VInt32 kMaxCommandFrameSize =
    kCommandHeaderSize + static_cast<VInt32>(RoundUpToBlocks(kMaxCommandLength));
static_assert(kMaxCommandFrameSize == 54);

inline constexpr VInt32 kResponseHeaderSize = 8;
inline constexpr VInt32 kResponseLengthOffset = 0;
inline constexpr VInt32 kResponseDataChecksumOffset = 4;
inline constexpr VInt32 kResponseHeaderChecksumOffset = 6;

// A response code is its command's code plus this.
inline constexpr VInt32 kResponseCodeOffset = 0x80;
// Frames with another response code are skipped, up to this many in all.
inline constexpr int kMaxFramesPerResponse = 4;

inline constexpr VUInt32 kSendTimeoutMs = 1000;
inline constexpr VUInt32 kReceiveTimeoutMs = 3000;

// ---------------------------------------------------------------------------
// Commands

enum class Command : VUInt8 {
  kEcho = 0x01,
  kGetDeviceInfo = 0x03,
  kSetKey = 0x05,
  kGetStatus = 0x09,
  kSetStatus = 0x0C,
  kGetImagePart = 0x11,
};

constexpr VUInt8 CodeOf(Command command) {
  return static_cast<VUInt8>(command);
}
constexpr VUInt8 ResponseCodeOf(Command command) {
  return static_cast<VUInt8>(CodeOf(command) + kResponseCodeOffset);
}

// Commands are built in zero-filled buffers of whole blocks, so the zero fill
// the frame carries is already in place. A short command (the code and at
// most one argument byte) fits one block.
inline constexpr VInt32 kShortCommandBufferSize = kBlockSize;
// Capacity handed to the receive for every response but an image part.
inline constexpr VInt32 kResponseCapacity = 256;

// Echo (0x01): the code and 15 pattern bytes 0, 1, ..., 14; the scanner
// answers 0x81 and the same 15 bytes, so a good answer proves link and key.
inline constexpr VInt32 kEchoPatternSize = 15;
inline constexpr VInt32 kEchoCommandLength = 1 + kEchoPatternSize;
inline constexpr VInt32 kEchoPatternOffset = 1;

// Device identity (0x03): the code alone.
inline constexpr VInt32 kDeviceInfoMinPayload = 16;
inline constexpr VInt32 kDeviceInfoModelOffset = 1;
inline constexpr VInt32 kDeviceInfoModelSize = 7;  // no terminator on the wire
inline constexpr VInt32 kDeviceInfoSerialOffset = 8;
inline constexpr VInt32 kDeviceInfoValue12Offset = 12;
inline constexpr VInt32 kDeviceInfoValue13Offset = 13;
inline constexpr VInt32 kDeviceInfoValue14Offset = 14;

// Key (0x05): the code and the 32 new key bytes, sent under the old key.
inline constexpr VInt32 kSetKeyCommandLength = 1 + kKeySize;
inline constexpr VInt32 kSetKeyKeyOffset = 1;
inline constexpr VInt32 kSetKeyCommandBufferSize = static_cast<VInt32>(RoundUpToBlocks(kSetKeyCommandLength));
inline constexpr VInt32 kSetKeyMinPayload = 13;
inline constexpr VInt32 kSetKeyResultOffset = 12;
inline constexpr VUInt8 kSetKeyAccepted = 1;

// Status query (0x09): the code alone.
inline constexpr VInt32 kGetStatusMinPayload = 16;
inline constexpr VInt32 kGetStatusFlag12Offset = 12;
inline constexpr VInt32 kGetStatusCaptureStateOffset = 13;
inline constexpr VInt32 kGetStatusValue14Offset = 14;
inline constexpr VUInt8 kCaptureStateImageReady = 2;

// Status command (0x0C): the code and the low byte of the status; the
// scanner answers with the status now in force.
inline constexpr VInt32 kSetStatusCommandLength = 2;
inline constexpr VInt32 kSetStatusValueOffset = 1;
inline constexpr VInt32 kSetStatusMinPayload = 14;
inline constexpr VInt32 kSetStatusResultOffset = 12;

// Image part (0x11): the code and the part index.
inline constexpr VInt32 kGetImagePartCommandLength = 2;
inline constexpr VInt32 kGetImagePartIndexOffset = 1;
inline constexpr VInt32 kImagePartCapacity = 3096;
inline constexpr VInt32 kImagePartPayloadSize = 3085;
inline constexpr VInt32 kImagePartValidOffset = 12;
inline constexpr VUInt8 kImagePartValid = 1;
inline constexpr VInt32 kImagePartDataOffset = 13;

// ---------------------------------------------------------------------------
// Image

inline constexpr VUInt32 kImageWidth = 256;
inline constexpr VUInt32 kImageHeight = 360;
inline constexpr VUInt32 kImageStride = kImageWidth;
inline constexpr VInt32 kImagePixelCount = static_cast<VInt32>(kImageStride * kImageHeight);
inline constexpr VFloat kImageResolution = 508.0f;

// Background while parts are missing: a checkerboard of 8 x 8 squares, the
// top-left one dark.
inline constexpr VInt32 kBackgroundSquareSize = 8;
inline constexpr VUInt8 kBackgroundEven = 128;
inline constexpr VUInt8 kBackgroundOdd = 192;

// Pixels travel as 3-bit delta codes, 8 codes in each 3-byte group (read as
// a 24-bit little-endian number, code 0 in the low bits), in reverse pixel
// order: the first pixel on the wire is the image's last.
inline constexpr int kImagePartCount = 12;
inline constexpr int kGroupSize = 3;
inline constexpr int kCodeBits = 3;
inline constexpr int kCodesPerGroup = 8;
inline constexpr int kGroupsPerPart = 1024;
inline constexpr int kGroupsInLastPart = 256;
inline constexpr VUInt8 kDecoderStartValue = 128;

// Delta of each code, as the 8-bit addend that wraps the running value.
inline constexpr std::array<VUInt8, 8> kDeltaTable = {0xC0, 0xEA, 0xF8, 0xFD, 0x03, 0x08, 0x16, 0x40};

static_assert(kImagePartDataOffset + kGroupsPerPart * kGroupSize == kImagePartPayloadSize);
static_assert(RoundUpToBlocks(kImagePartPayloadSize) <= kImagePartCapacity);
static_assert((kImagePartCount - 1) * kGroupsPerPart * kCodesPerGroup + kGroupsInLastPart * kCodesPerGroup ==
                  kImagePixelCount,
              "the twelve parts fill the image exactly");

}  // namespace vdm::bluefin

#endif  // BLUEFIN_PROTOCOL_H
