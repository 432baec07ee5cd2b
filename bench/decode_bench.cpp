// The image decoder against a plain copy of the pixels it writes (the memory
// bound), and the CPU a whole image costs once its parts have arrived:
// twelve 3088-byte decryptions and the decoding of 92160 pixels.
#include <cstring>
#include <random>
#include <vector>

#include "bench/masks.h"
#include "bluefin/bluefin.h"
#include "bluefin/delta_decoder.h"
#include "bluefin/protocol.h"
#include "ratio_table.h"

namespace {

using namespace vdm::bluefin;

constexpr int kPartPixels = kGroupsPerPart * kCodesPerGroup;

std::vector<VUInt8> RandomBytes(std::size_t size) {
  std::mt19937 random(42);
  std::vector<VUInt8> bytes(size);
  for (VUInt8 &byte : bytes) {
    byte = static_cast<VUInt8>(random());
  }
  return bytes;
}

void DecodePart(benchmark::State &state) {
  const std::vector<VUInt8> groups = RandomBytes(kGroupsPerPart * kGroupSize);
  std::vector<VUInt8> pixels(kImagePixelCount);
  for (auto _ : state) {
    DeltaDecoder decoder(pixels.data());
    decoder.Decode(groups.data(), kGroupsPerPart);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPartPixels);
}

void CopyPart(benchmark::State &state) {
  const std::vector<VUInt8> source = RandomBytes(kPartPixels);
  std::vector<VUInt8> pixels(kImagePixelCount);
  for (auto _ : state) {
    std::memcpy(pixels.data() + kImagePixelCount - kPartPixels, source.data(), kPartPixels);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPartPixels);
}

void DecodeAllParts(DeltaDecoder &decoder, const std::vector<VUInt8> &groups) {
  for (int part = 0; part < kImagePartCount; ++part) {
    const bool isLast = part == kImagePartCount - 1;
    decoder.Decode(groups.data() + static_cast<std::size_t>(part) * kGroupsPerPart * kGroupSize,
                   isLast ? kGroupsInLastPart : kGroupsPerPart);
  }
}

void DecodeImage(benchmark::State &state) {
  const std::vector<VUInt8> groups = RandomBytes(kImagePartCount * kGroupsPerPart * kGroupSize);
  std::vector<VUInt8> pixels(kImagePixelCount);
  for (auto _ : state) {
    DeltaDecoder decoder(pixels.data());
    DecodeAllParts(decoder, groups);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kImagePixelCount);
}

void CopyImage(benchmark::State &state) {
  const std::vector<VUInt8> source = RandomBytes(kImagePixelCount);
  std::vector<VUInt8> pixels(kImagePixelCount);
  for (auto _ : state) {
    std::memcpy(pixels.data(), source.data(), kImagePixelCount);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kImagePixelCount);
}

// What the module's CPU does for one image apart from the socket: each part
// decrypted in place in the one part buffer, then decoded into the image.
void DecryptAndDecodeImage(benchmark::State &state) {
  const std::vector<VUInt8> key = RandomBytes(kKeySize);
  std::vector<VUInt8> part = RandomBytes(kImagePartCapacity);
  std::vector<VUInt8> pixels(kImagePixelCount);
  const VInt32 encryptedSize = static_cast<VInt32>(RoundUpToBlocks(kImagePartPayloadSize));
  for (auto _ : state) {
    DeltaDecoder decoder(pixels.data());
    for (int index = 0; index < kImagePartCount; ++index) {
      BlueFinDecryptBlocks(part.data(), encryptedSize, key.data(), kKeyBits, part.data());
      const bool isLast = index == kImagePartCount - 1;
      decoder.Decode(part.data() + kImagePartDataOffset, isLast ? kGroupsInLastPart : kGroupsPerPart);
    }
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kImagePixelCount);
}

}  // namespace

BENCHMARK(DecodePart);
BENCHMARK(CopyPart);
BENCHMARK(DecodeImage);
BENCHMARK(CopyImage);
BENCHMARK(DecryptAndDecodeImage);
