// The scanner's image coder: 3-bit delta codes in the order the host
// decodes them. Pixel n of the stream lands at index kImagePixels - 1 - n
// (the image goes out bottom row first, each row right to left); each pixel
// is the running value after its own delta, the running value starting at
// kDeltaStart per transfer and carrying across groups and parts.
#ifndef BLUEFIN_EMULATOR_DELTA_ENCODER_H
#define BLUEFIN_EMULATOR_DELTA_ENCODER_H

#include <cstdint>
#include <span>
#include <vector>

#include "emulator/protocol.h"

namespace bluefin::emu {

// kImagePixels bytes, one a pixel, row 0 first, kImageWidth bytes a row.
using Image = std::vector<std::uint8_t>;

struct EncodedImage {
  // The code groups of all parts, kPartDataSize bytes a part. The last part
  // carries its pixels in its first groups and junk after them, which a
  // decoder must ignore.
  std::vector<std::uint8_t> data;
  // Exactly what a decoder rebuilds from data: the delta coding is lossy.
  Image reconstruction;

  std::span<const std::uint8_t, kPartDataSize> Part(std::size_t index) const {
    return std::span<const std::uint8_t, kPartDataSize>(data.data() + index * kPartDataSize, kPartDataSize);
  }
};

// For each pixel picks the code whose result, wrapped to 8 bits, lies
// nearest the target (the lower code on a tie), tracking the running value
// exactly as the decoder will, so errors never accumulate. target must hold
// kImagePixels bytes.
EncodedImage EncodeImage(std::span<const std::uint8_t> target);

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_DELTA_ENCODER_H
