// The image coder checked against a decoder written apart from it, and the
// synthetic finger checked for looking like one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "emulator/delta_encoder.h"
#include "emulator/synthetic_finger.h"
#include "tests/emulator/scanner_client.h"

namespace bluefin::emu::test {
namespace {

constexpr int kDelta[8] = {-64, -22, -8, -3, 3, 8, 22, 64};

std::vector<Bytes> AsPayloads(const EncodedImage &encoded) {
  std::vector<Bytes> payloads;
  for (std::size_t part = 0; part < kImageParts; ++part) {
    Bytes payload(13);
    const auto data = encoded.Part(part);
    payload.insert(payload.end(), data.begin(), data.end());
    payloads.push_back(std::move(payload));
  }
  return payloads;
}

Image Filled(std::uint8_t (*pixel)(std::size_t index)) {
  Image image(kImagePixels);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = pixel(i);
  }
  return image;
}

TEST(EmulatorImageCoding, DecodesToTheReconstructionWithTheClosestCodeAtEveryPixel) {
  const std::pair<const char *, Image> images[] = {
      {"synthetic finger", MakeSyntheticFinger(4)},
      {"flat", Filled([](std::size_t) -> std::uint8_t { return 128; })},
      {"extremes", Filled([](std::size_t i) -> std::uint8_t { return (i / 3) % 2 ? 255 : 0; })},
      {"noise", Filled([](std::size_t i) -> std::uint8_t {
         return static_cast<std::uint8_t>(i * 2654435761u >> 13);
       })},
  };
  for (const auto &[name, target] : images) {
    SCOPED_TRACE(name);
    const EncodedImage encoded = EncodeImage(target);
    const std::vector<std::uint8_t> decoded = DecodeParts(AsPayloads(encoded));
    ASSERT_EQ(decoded, encoded.reconstruction);
    // Greedy: from the value the decoder held before each pixel, no code
    // lands nearer the target than the one sent.
    int running = 128;
    for (std::size_t n = 0; n < kImagePixels; ++n) {
      const std::size_t index = kImagePixels - 1 - n;
      int best = 256;
      for (int delta : kDelta) {
        best = std::min(best, std::abs((running + delta + 256) % 256 - target[index]));
      }
      ASSERT_EQ(std::abs(decoded[index] - target[index]), best) << "stream pixel " << n;
      running = decoded[index];
    }
  }
}

TEST(EmulatorImageCoding, SyntheticFingerHasRidgesInAFingerOnLightGround) {
  const Image finger = MakeSyntheticFinger(0);
  EXPECT_EQ(finger, MakeSyntheticFinger(0));
  EXPECT_NE(finger, MakeSyntheticFinger(1));
  // Corners are background; across the ridges, above the core and through
  // it, the pad alternates ridge and valley about every 9 pixels (508 dpi),
  // counted as dark runs.
  for (std::size_t corner : {std::size_t{0}, kImageWidth - 1, kImagePixels - kImageWidth, kImagePixels - 1}) {
    EXPECT_GT(finger[corner], 200);
  }
  struct Line {
    std::size_t row, column, rowStep, columnStep, length;
  };
  for (const Line &line : {Line{30, 128, 1, 0, 110}, Line{150, 64, 0, 1, 128}}) {
    SCOPED_TRACE(line.row);
    std::size_t ridges = 0;
    bool dark = false;
    for (std::size_t i = 0; i < line.length; ++i) {
      const bool now =
          finger[(line.row + i * line.rowStep) * kImageWidth + line.column + i * line.columnStep] < 128;
      ridges += now && !dark;
      dark = now;
    }
    EXPECT_GE(ridges, line.length / 13);
    EXPECT_LE(ridges, line.length / 7);
  }
}

}  // namespace
}  // namespace bluefin::emu::test
