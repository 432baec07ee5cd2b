/*
 * The AES tables of FIPS-197, generated at compile time.
 *
 * The S-box itself is derived from its definition (the multiplicative
 * inverse in GF(2^8) followed by the affine transform), and every other table
 * is derived from the S-box: nothing is typed in by hand. State columns are
 * 32-bit little-endian words (byte 0 of a column in bits 0..7), so
 *
 *   forward[0][x] = {02·S[x], S[x], S[x], 03·S[x]}      (MixColumns of SubBytes)
 *   inverse[0][x] = {0E·Si[x], 09·Si[x], 0D·Si[x], 0B·Si[x]}
 *   forward[k], inverse[k]: the same rotated left by 8k bits (row k)
 *   sboxSpread[k][x] = S[x] << 8k, inverseSboxSpread[k][x] = Si[x] << 8k
 *
 * The four byte positions get their own tables so that a round is four
 * look-ups and four XORs a column, with no rotations at run time.
 */
#ifndef BLUEFIN_AES_TABLES_H
#define BLUEFIN_AES_TABLES_H

#include <v_types.h>

#include <array>

namespace vdm::bluefin::aes {

using ByteTable = std::array<VUInt8, 256>;
using WordTable = std::array<VUInt32, 256>;
// One table per byte position of a column.
using WordTables = std::array<WordTable, 4>;

struct Tables {
  ByteTable sbox;
  ByteTable inverseSbox;
  WordTables forward;
  WordTables inverse;
  WordTables sboxSpread;
  WordTables inverseSboxSpread;
  std::array<VUInt8, 10> roundConstants;
};

namespace detail {

// Multiplication by x (that is, 02) modulo x^8 + x^4 + x^3 + x + 1.
constexpr VUInt8 XTime(VUInt8 a) {
  return static_cast<VUInt8>((a << 1) ^ ((a & 0x80) != 0 ? 0x1B : 0x00));
}

constexpr VUInt8 Multiply(VUInt8 a, VUInt8 b) {
  VUInt8 product = 0;
  for (; b != 0; b = static_cast<VUInt8>(b >> 1), a = XTime(a)) {
    if ((b & 1) != 0) {
      product = static_cast<VUInt8>(product ^ a);
    }
  }
  return product;
}

constexpr VUInt8 RotateByteLeft(VUInt8 a, int bits) {
  return static_cast<VUInt8>((a << bits) | (a >> (8 - bits)));
}

constexpr VUInt32 RotateWordLeft(VUInt32 w, int bits) {
  return bits == 0 ? w : static_cast<VUInt32>((w << bits) | (w >> (32 - bits)));
}

constexpr VUInt32 Column(VUInt8 b0, VUInt8 b1, VUInt8 b2, VUInt8 b3) {
  return static_cast<VUInt32>(b0) | static_cast<VUInt32>(b1) << 8 | static_cast<VUInt32>(b2) << 16 |
         static_cast<VUInt32>(b3) << 24;
}

constexpr Tables MakeTables() {
  Tables t{};

  // Powers and logarithms to the generator 03 give the inverses.
  ByteTable power{};
  ByteTable logarithm{};
  VUInt8 x = 1;
  for (int i = 0; i < 255; ++i) {
    power[i] = x;
    logarithm[x] = static_cast<VUInt8>(i);
    x = static_cast<VUInt8>(x ^ XTime(x));
  }

  for (int i = 0; i < 256; ++i) {
    const VUInt8 inverse = i == 0 ? 0 : power[(255 - logarithm[i]) % 255];
    const VUInt8 s = static_cast<VUInt8>(inverse ^ RotateByteLeft(inverse, 1) ^ RotateByteLeft(inverse, 2) ^
                                         RotateByteLeft(inverse, 3) ^ RotateByteLeft(inverse, 4) ^ 0x63);
    t.sbox[i] = s;
    t.inverseSbox[s] = static_cast<VUInt8>(i);
  }

  for (int i = 0; i < 256; ++i) {
    const VUInt8 s = t.sbox[i];
    const VUInt8 si = t.inverseSbox[i];
    const VUInt32 forward = Column(Multiply(s, 0x02), s, s, Multiply(s, 0x03));
    const VUInt32 inverse =
        Column(Multiply(si, 0x0E), Multiply(si, 0x09), Multiply(si, 0x0D), Multiply(si, 0x0B));
    for (int k = 0; k < 4; ++k) {
      t.forward[k][i] = RotateWordLeft(forward, 8 * k);
      t.inverse[k][i] = RotateWordLeft(inverse, 8 * k);
      t.sboxSpread[k][i] = static_cast<VUInt32>(s) << (8 * k);
      t.inverseSboxSpread[k][i] = static_cast<VUInt32>(si) << (8 * k);
    }
  }

  VUInt8 rc = 1;
  for (auto &c : t.roundConstants) {
    c = rc;
    rc = XTime(rc);
  }
  return t;
}

}  // namespace detail

inline constexpr Tables kTables = detail::MakeTables();

// Spot checks against the standard's printed tables.
static_assert(kTables.sbox[0x00] == 0x63 && kTables.sbox[0x53] == 0xED && kTables.sbox[0xFF] == 0x16);
static_assert(kTables.inverseSbox[0x00] == 0x52 && kTables.inverseSbox[0x63] == 0x00);
static_assert(kTables.forward[0][0x00] == 0xA56363C6 && kTables.forward[1][0x00] == 0x6363C6A5);
static_assert(kTables.inverse[0][0x00] == 0x50A7F451);
static_assert(kTables.roundConstants[9] == 0x36);

}  // namespace vdm::bluefin::aes

#endif  // BLUEFIN_AES_TABLES_H
