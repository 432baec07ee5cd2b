/*
 * The image coding's decoder: 3-bit delta codes, 8 to every 3 bytes, turned
 * into pixels written straight into the image.
 */
#ifndef BLUEFIN_DELTA_DECODER_H
#define BLUEFIN_DELTA_DECODER_H

#include <v_types.h>

#include <cassert>
#include <cstddef>

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
      // Eight codes in a 24-bit little-endian number, the first in the low
      // bits; each pixel takes the lowest code left.
      VUInt32 codes = static_cast<VUInt32>(pGroups[0]) | static_cast<VUInt32>(pGroups[1]) << 8 |
                      static_cast<VUInt32>(pGroups[2]) << 16;
      for (int code = 0; code < kCodesPerGroup; ++code, codes >>= kCodeBits) {
        value = static_cast<VUInt8>(value + kDeltaTable[codes & (kDeltaTable.size() - 1)]);
        *--pNext = value;
      }
    }
    pNext_ = pNext;
    value_ = value;
  }

 private:
  VUInt8 *pFirst_;
  VUInt8 *pNext_;
  VUInt8 value_ = kDecoderStartValue;
};

}  // namespace vdm::bluefin

#endif  // BLUEFIN_DELTA_DECODER_H
