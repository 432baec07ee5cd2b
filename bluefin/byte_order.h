/*
 * Big-endian numbers of the frame headers and payloads, read and written a
 * byte at a time: the buffers carry no alignment and the host may be of
 * either byte order.
 */
#ifndef BLUEFIN_BYTE_ORDER_H
#define BLUEFIN_BYTE_ORDER_H

#include <v_types.h>

namespace vdm::bluefin {

constexpr VUInt16 LoadBe16(const VUInt8 *p) {
  return static_cast<VUInt16>(p[0] << 8 | p[1]);
}

constexpr VUInt32 LoadBe32(const VUInt8 *p) {
  return static_cast<VUInt32>(p[0]) << 24 | static_cast<VUInt32>(p[1]) << 16 |
         static_cast<VUInt32>(p[2]) << 8 | static_cast<VUInt32>(p[3]);
}

constexpr void StoreBe16(VUInt16 value, VUInt8 *p) {
  p[0] = static_cast<VUInt8>(value >> 8);
  p[1] = static_cast<VUInt8>(value);
}

}  // namespace vdm::bluefin

#endif  // BLUEFIN_BYTE_ORDER_H
