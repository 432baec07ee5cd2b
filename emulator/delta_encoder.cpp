#include "emulator/delta_encoder.h"

#include <cstdlib>
#include <stdexcept>

namespace bluefin::emu {
namespace {

struct Step {
  std::uint8_t code;
  std::uint8_t value;
};

Step ClosestStep(std::uint8_t running, std::uint8_t target) {
  Step best{0, 0};
  int bestDistance = 256;
  for (std::uint8_t code = 0; code < kDeltas.size(); ++code) {
    // Wrap-around is what the decoder does; the distance is plain, since a
    // pixel that wrapped from 250 to 4 is far from 250 on screen.
    const auto value = static_cast<std::uint8_t>(running + kDeltas[code]);
    const int distance = std::abs(static_cast<int>(value) - static_cast<int>(target));
    if (distance < bestDistance) {
      best = {code, value};
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace

EncodedImage EncodeImage(std::span<const std::uint8_t> target) {
  if (target.size() != kImagePixels) {
    throw std::invalid_argument("an image must hold 256 x 360 pixels");
  }
  EncodedImage encoded;
  encoded.data.resize(kImageParts * kPartDataSize);
  encoded.reconstruction.resize(kImagePixels);

  std::uint8_t running = kDeltaStart;
  std::uint32_t word = 0;
  std::size_t out = 0;
  for (std::size_t n = 0; n < kImagePixels; ++n) {
    const std::size_t index = kImagePixels - 1 - n;
    const Step step = ClosestStep(running, target[index]);
    running = step.value;
    encoded.reconstruction[index] = running;
    // Code 0 of a group is its first pixel and sits in the lowest bits of
    // the little-endian 24-bit word.
    const std::size_t slot = n % kPixelsPerGroup;
    word |= static_cast<std::uint32_t>(step.code) << (3 * slot);
    if (slot == kPixelsPerGroup - 1) {
      encoded.data[out++] = static_cast<std::uint8_t>(word);
      encoded.data[out++] = static_cast<std::uint8_t>(word >> 8);
      encoded.data[out++] = static_cast<std::uint8_t>(word >> 16);
      word = 0;
    }
  }
  // The rest of the last part is never decoded: fill it with junk rather
  // than zeros (eight codes of -64) so that a decoder running past its end
  // shows up.
  std::uint32_t junk = 0x9E3779B9u;
  while (out < encoded.data.size()) {
    junk = junk * 1664525u + 1013904223u;
    encoded.data[out++] = static_cast<std::uint8_t>(junk >> 24);
  }
  return encoded;
}

}  // namespace bluefin::emu
