/*
 * The image coding's decoder: 3-bit delta codes, 8 to every 3 bytes, turned
 * into pixels written straight into the image.
 */
#ifndef BLUEFIN_DELTA_DECODER_H
#define BLUEFIN_DELTA_DECODER_H

#include <v_types.h>

#include <cassert>
#include <cstddef>
#include <utility>

#include "bluefin/protocol.h"

namespace vdm::bluefin {

// The scanner sends the image from its last pixel to its first, so the
// decoder writes backwards; the running value carries from each group to the
// next and across parts, and wraps modulo 256 (the scanner's coder relies on
// the wrap, so no clamping).
class DeltaDecoder {
 public:
  explicit DeltaDecoder(VUInt8 *pPixels) : pFirst_(pPixels), pNext_(pPixels + kImagePixelCount) {}

  void Decode(const VUInt8 *pGroups, int groupCount) {
    assert(pNext_ - pFirst_ >= static_cast<std::ptrdiff_t>(groupCount) * kCodesPerGroup);
    // Locals, not the members: the pixel stores are byte stores, which the
    // compiler must assume may alias the members, so working on the members
    // would reload and store both at every pixel.
    VUInt8 *pNext = pNext_;
    VUInt8 value = value_;
    for (int group = 0; group < groupCount; ++group, pGroups += kGroupSize) {
      // Eight codes in a 24-bit little-endian number, the first in the low bits.
      VUInt32 codes = static_cast<VUInt32>(pGroups[0]) | static_cast<VUInt32>(pGroups[1]) << 8 |
                      static_cast<VUInt32>(pGroups[2]) << 16;
      DecodeGroup(codes, pNext, value, std::make_integer_sequence<int, kCodesPerGroup>{});
    }
    pNext_ = pNext;
    value_ = value;
  }

 private:
  // Code k is bits 3k to 3k + 2, decoded in order. Spelled out, the eight
  // shifts are independent of one another and only the additions form a
  // chain.
  template <int... kCode>
  static void DecodeGroup(VUInt32 codes, VUInt8 *&pNext, VUInt8 &value,
                          std::integer_sequence<int, kCode...>) {
    ((value =
          static_cast<VUInt8>(value + kDeltaTable[(codes >> (kCodeBits * kCode)) & (kDeltaTable.size() - 1)]),
      *--pNext = value),
     ...);
  }

  VUInt8 *pFirst_;
  VUInt8 *pNext_;
  VUInt8 value_ = kDecoderStartValue;
};

}  // namespace vdm::bluefin

#endif  // BLUEFIN_DELTA_DECODER_H
