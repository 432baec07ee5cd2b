#include "emulator/frame.h"

#include <algorithm>
#include <cassert>

#include "emulator/cipher.h"

namespace bluefin::emu {
namespace {

void PutBigEndian16(std::uint16_t value, std::uint8_t *out) {
  out[0] = static_cast<std::uint8_t>(value >> 8);
  out[1] = static_cast<std::uint8_t>(value);
}

void PutBigEndian32(std::uint32_t value, std::uint8_t *out) {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

std::uint16_t GetBigEndian16(const std::uint8_t *in) {
  return static_cast<std::uint16_t>((in[0] << 8) | in[1]);
}

}  // namespace

std::uint16_t Checksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (std::uint8_t byte : bytes) {
    sum += byte;
  }
  return static_cast<std::uint16_t>(sum);
}

CommandHeader ParseCommandHeader(std::span<const std::uint8_t, kCommandHeaderSize> header) {
  CommandHeader parsed;
  parsed.length = GetBigEndian16(header.data());
  parsed.dataChecksum = GetBigEndian16(header.data() + 2);
  parsed.headerChecksumOk = GetBigEndian16(header.data() + 4) == Checksum(header.first(4));
  return parsed;
}

void AppendResponseFrame(std::span<const std::uint8_t> payload, const Key &key, const FrameDefects &defects,
                         std::vector<std::uint8_t> &out) {
  assert(!payload.empty());
  const std::size_t start = out.size();
  const std::size_t bodySize = RoundUpToBlocks(payload.size());
  out.resize(start + kResponseHeaderSize + bodySize, kFillByte);
  std::uint8_t *header = out.data() + start;
  const std::span<std::uint8_t> body(header + kResponseHeaderSize, bodySize);
  std::copy(payload.begin(), payload.end(), body.begin());
  EncryptBlocks(key, body);

  const std::uint32_t length = defects.declaredLength.value_or(static_cast<std::uint32_t>(payload.size()));
  PutBigEndian32(length, header);
  std::uint16_t dataChecksum = Checksum(body);
  if (defects.badDataChecksum) {
    ++dataChecksum;
  }
  PutBigEndian16(dataChecksum, header + 4);
  std::uint16_t headerChecksum = Checksum(std::span<const std::uint8_t>(header, 6));
  if (defects.badHeaderChecksum) {
    ++headerChecksum;
  }
  PutBigEndian16(headerChecksum, header + 6);
}

}  // namespace bluefin::emu
