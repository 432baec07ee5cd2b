// Frame code of the scanner's side: reading a command frame's header,
// checking it, and building response frames, optionally with the defects a
// fault asks for.
#ifndef BLUEFIN_EMULATOR_FRAME_H
#define BLUEFIN_EMULATOR_FRAME_H

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "emulator/protocol.h"

namespace bluefin::emu {

// Sum of bytes taken unsigned, modulo 65536, as both headers carry it.
std::uint16_t Checksum(std::span<const std::uint8_t> bytes);

constexpr std::size_t RoundUpToBlocks(std::size_t length) {
  return (length + kBlockSize - 1) / kBlockSize * kBlockSize;
}

struct CommandHeader {
  std::uint16_t length = 0;
  std::uint16_t dataChecksum = 0;
  bool headerChecksumOk = false;

  // A length outside 1..43 leaves no way to tell where the frame ends.
  bool LengthValid() const { return length >= kMinCommandLength && length <= kMaxCommandLength; }
  std::size_t BodySize() const { return RoundUpToBlocks(length); }
};

CommandHeader ParseCommandHeader(std::span<const std::uint8_t, kCommandHeaderSize> header);

// Ways a response frame may be spoiled on purpose. A declared length
// replaces the header's payload length while the blocks stay those of the
// true payload; the checksums are then computed over what is sent, so only
// the length lies.
struct FrameDefects {
  bool badDataChecksum = false;
  bool badHeaderChecksum = false;
  std::optional<std::uint32_t> declaredLength;
};

// Fill bytes after the payload in its last block; they carry no meaning, and
// a non-zero value keeps a reader from mistaking them for data.
inline constexpr std::uint8_t kFillByte = 0xA5;

// Appends one response frame carrying payload (at least one byte), encrypted
// under key, to out.
void AppendResponseFrame(std::span<const std::uint8_t> payload, const Key &key, const FrameDefects &defects,
                         std::vector<std::uint8_t> &out);

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_FRAME_H
