// The scanner's wire constants, from the scanner's side of the link: frame
// layouts, command codes, payload sizes and the image geometry, kept
// together so that no other file carries a magic number of the protocol.
#ifndef BLUEFIN_EMULATOR_PROTOCOL_H
#define BLUEFIN_EMULATOR_PROTOCOL_H

#include <array>
#include <cstddef>
#include <cstdint>

namespace bluefin::emu {

using Key = std::array<std::uint8_t, 32>;

// The key every scanner holds after power-on: the 32 ASCII bytes of the
// text, no terminating zero.
inline constexpr Key kDefaultKey = [] {
  constexpr char kText[] = "Tremolo Quaxbin Fendrowit Saylor";
  static_assert(sizeof(kText) == 33);
  Key key{};
  for (std::size_t i = 0; i < key.size(); ++i) {
    key[i] = static_cast<std::uint8_t>(kText[i]);
  }
  return key;
}();

inline constexpr std::size_t kBlockSize = 16;

// Command frame (host to scanner): length (2, big-endian), data checksum
// (2), header checksum over bytes 0..3 (2), then the encrypted command
// zero-filled to whole blocks.
inline constexpr std::size_t kCommandHeaderSize = 6;
inline constexpr std::size_t kMinCommandLength = 1;
inline constexpr std::size_t kMaxCommandLength = 43;

// Response frame (scanner to host): payload length (4, big-endian), data
// checksum (2), header checksum over bytes 0..5 (2), then the encrypted
// payload filled to whole blocks. Both checksums cover ciphertext.
inline constexpr std::size_t kResponseHeaderSize = 8;

// A response code is its command's code with the top bit set.
inline constexpr std::uint8_t kResponseBit = 0x80;

enum class Command : std::uint8_t {
  kEcho = 0x01,
  kIdentity = 0x03,
  kSetKey = 0x05,
  kGetStatus = 0x09,
  kSetStatus = 0x0C,
  kImagePart = 0x11,
};

constexpr std::uint8_t Code(Command command) {
  return static_cast<std::uint8_t>(command);
}

// Every short answer is one block; the host accepts anything from the
// minimum its command needs (13 for a key answer, 14 for a status-set
// answer, 16 for the others), so one block satisfies all of them.
inline constexpr std::size_t kShortAnswerSize = 16;

// Byte 12 of most answers says whether the scanner did what it was asked
// (1) or not; for a status-set answer it is the status now in force.
inline constexpr std::size_t kResultOffset = 12;

// Identity answer: model text at 1..7, serial number big-endian at 8..11.
inline constexpr std::size_t kModelOffset = 1;
inline constexpr std::size_t kModelSize = 7;
inline constexpr std::size_t kSerialOffset = 8;

// Status-query answer: byte 13 is the capture state.
inline constexpr std::size_t kCaptureStateOffset = 13;
enum class CaptureState : std::uint8_t { kIdle = 0, kWaiting = 1, kReady = 2 };

// Statuses the host may set: 0 idle, 1 armed for a capture.
inline constexpr std::uint8_t kStatusIdle = 0;
inline constexpr std::uint8_t kStatusArmed = 1;

// Image geometry and transfer: 256 x 360 pixels, 8 bits each, sent in 12
// parts of 1024 code groups (3 bytes, 8 pixels of 3-bit codes); the last
// part carries only 256 groups' worth of pixels.
inline constexpr std::size_t kImageWidth = 256;
inline constexpr std::size_t kImageHeight = 360;
inline constexpr std::size_t kImagePixels = kImageWidth * kImageHeight;
inline constexpr std::size_t kImageParts = 12;
inline constexpr std::size_t kGroupBytes = 3;
inline constexpr std::size_t kPixelsPerGroup = 8;
inline constexpr std::size_t kGroupsPerPart = 1024;
inline constexpr std::size_t kPartDataSize = kGroupsPerPart * kGroupBytes;
inline constexpr std::size_t kPartDataOffset = 13;
inline constexpr std::size_t kImagePartPayloadSize = kPartDataOffset + kPartDataSize;
static_assert(kImagePartPayloadSize == 3085);
static_assert((kImageParts - 1) * kGroupsPerPart * kPixelsPerGroup < kImagePixels);
static_assert(kImageParts * kGroupsPerPart * kPixelsPerGroup >= kImagePixels);

// The decoder's running value starts here at every transfer.
inline constexpr std::uint8_t kDeltaStart = 128;
inline constexpr std::array<int, 8> kDeltas = {-64, -22, -8, -3, 3, 8, 22, 64};

// The Serial Port service class, the only service a scanner offers.
inline constexpr char kSerialPortServiceClass[] = "00001101-0000-1000-8000-00805f9b34fb";

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_PROTOCOL_H
