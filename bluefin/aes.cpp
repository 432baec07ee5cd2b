/*
 * AES block cipher, as FIPS-197 (Advanced Encryption Standard, NIST 2001)
 * defines it: key expansion of section 5.2, the cipher of section 5.1 and the
 * equivalent inverse cipher of section 5.3.5, table-driven on 32-bit
 * little-endian column words; and the ECB block loops the packet layer uses.
 */
#include "bluefin/aes.h"

#include <cassert>

#include "bluefin/aes_tables.h"
#include "bluefin/bluefin.h"
#include "bluefin/secure_wipe.h"

namespace bluefin {
namespace {

using aes::kTables;
using State = std::array<VUInt32, 4>;

constexpr VUInt32 LoadLe32(const VUInt8 *p) {
  return static_cast<VUInt32>(p[0]) | static_cast<VUInt32>(p[1]) << 8 | static_cast<VUInt32>(p[2]) << 16 |
         static_cast<VUInt32>(p[3]) << 24;
}

constexpr void StoreLe32(VUInt32 value, VUInt8 *p) {
  p[0] = static_cast<VUInt8>(value);
  p[1] = static_cast<VUInt8>(value >> 8);
  p[2] = static_cast<VUInt8>(value >> 16);
  p[3] = static_cast<VUInt8>(value >> 24);
}

constexpr VUInt8 ByteOf(VUInt32 word, int position) {
  return static_cast<VUInt8>(word >> (8 * position));
}

// Byte k of output column j comes from input column j + k·shift: shift 1 is
// ShiftRows, shift 3 (that is, -1) InvShiftRows. With the round tables this is
// a whole round (substitution, row shift, column mix, round key); with the
// spread S-boxes it is the last round, which has no column mix.
template <int kShift>
State Round(const State &in, const aes::WordTables &tables, const VUInt32 *pRoundKey) {
  State out;
  for (int j = 0; j < 4; ++j) {
    out[j] = pRoundKey[j] ^ tables[0][ByteOf(in[j], 0)] ^ tables[1][ByteOf(in[(j + kShift) & 3], 1)] ^
             tables[2][ByteOf(in[(j + 2 * kShift) & 3], 2)] ^ tables[3][ByteOf(in[(j + 3 * kShift) & 3], 3)];
  }
  return out;
}

constexpr int kForwardShift = 1;
constexpr int kInverseShift = 3;

State LoadState(AesBlockIn in, const VUInt32 *pRoundKey) {
  State s;
  for (int j = 0; j < 4; ++j) {
    s[j] = LoadLe32(in.data() + 4 * j) ^ pRoundKey[j];
  }
  return s;
}

void StoreState(const State &s, AesBlockOut out) {
  for (int j = 0; j < 4; ++j) {
    StoreLe32(s[j], out.data() + 4 * j);
  }
}

VUInt32 SubWord(VUInt32 w) {
  const auto &s = kTables.sboxSpread;
  return s[0][ByteOf(w, 0)] ^ s[1][ByteOf(w, 1)] ^ s[2][ByteOf(w, 2)] ^ s[3][ByteOf(w, 3)];
}

// Byte 1 moves to position 0: a right rotation of a little-endian word.
constexpr VUInt32 RotWord(VUInt32 w) {
  return (w >> 8) | (w << 24);
}

// The inverse tables start with the inverse S-box; going through the S-box
// first leaves InvMixColumns alone.
VUInt32 InvMixColumn(VUInt32 w) {
  const auto &t = kTables.inverse;
  const auto &s = kTables.sbox;
  return t[0][s[ByteOf(w, 0)]] ^ t[1][s[ByteOf(w, 1)]] ^ t[2][s[ByteOf(w, 2)]] ^ t[3][s[ByteOf(w, 3)]];
}

int RoundsOf(const AesContext &context) {
  return context.keyWords + 6;
}

}  // namespace

bool AesSetKey(AesContext &context, const VUInt8 *pKey, VInt32 keyBits, bool forEncryption) {
  const VInt64 keyWords = (static_cast<VInt64>(keyBits) + 31) / 32;
  if (keyWords != 4 && keyWords != 6 && keyWords != 8) {
    context.keyWords = 0;
    return false;
  }
  const int nk = static_cast<int>(keyWords);
  context.keyWords = nk;
  context.forEncryption = forEncryption;

  const int rounds = RoundsOf(context);
  const int totalWords = 4 * (rounds + 1);
  auto &rk = context.roundKeys;
  for (int i = 0; i < nk; ++i) {
    rk[i] = LoadLe32(pKey + 4 * i);
  }
  for (int i = nk; i < totalWords; ++i) {
    VUInt32 temp = rk[i - 1];
    if (i % nk == 0) {
      temp = SubWord(RotWord(temp)) ^ kTables.roundConstants[i / nk - 1];
    } else if (nk > 6 && i % nk == 4) {
      temp = SubWord(temp);
    }
    rk[i] = rk[i - nk] ^ temp;
  }

  if (!forEncryption) {
    auto &dk = context.inverseRoundKeys;
    for (int j = 0; j < 4; ++j) {
      dk[j] = rk[4 * rounds + j];
      dk[4 * rounds + j] = rk[j];
    }
    for (int round = 1; round < rounds; ++round) {
      for (int j = 0; j < 4; ++j) {
        dk[4 * round + j] = InvMixColumn(rk[4 * (rounds - round) + j]);
      }
    }
  }
  return true;
}

void AesEncryptBlock(const AesContext &context, AesBlockIn in, AesBlockOut out) {
  const int rounds = RoundsOf(context);
  const VUInt32 *rk = context.roundKeys.data();
  State s = LoadState(in, rk);
  for (int round = 1; round < rounds; ++round) {
    s = Round<kForwardShift>(s, kTables.forward, rk + 4 * round);
  }
  s = Round<kForwardShift>(s, kTables.sboxSpread, rk + 4 * rounds);
  StoreState(s, out);
  SecureWipe(s);
}

void AesDecryptBlock(const AesContext &context, AesBlockIn in, AesBlockOut out) {
  assert(!context.forEncryption);
  const int rounds = RoundsOf(context);
  const VUInt32 *dk = context.inverseRoundKeys.data();
  State s = LoadState(in, dk);
  for (int round = 1; round < rounds; ++round) {
    s = Round<kInverseShift>(s, kTables.inverse, dk + 4 * round);
  }
  s = Round<kInverseShift>(s, kTables.inverseSboxSpread, dk + 4 * rounds);
  StoreState(s, out);
  SecureWipe(s);
}

namespace {

template <bool kEncrypt>
void EcbBlocks(const VUInt8 *pIn, VInt32 length, const VUInt8 *pKey, VInt32 keyBits, VUInt8 *pOut) {
  if (length < kBlockSize) {
    return;
  }
  const VInt32 blocks = length / kBlockSize;
  AesContext context;
  if (!AesSetKey(context, pKey, keyBits, kEncrypt)) {
    // No caller passes another size; should one ever, it must not get its
    // plaintext back looking like ciphertext.
    SecureWipe(pOut, static_cast<std::size_t>(blocks) * kBlockSize);
    SecureWipe(context);
    return;
  }
  for (VInt32 b = 0; b < blocks; ++b) {
    const AesBlockIn in(pIn + static_cast<std::size_t>(b) * kBlockSize, kBlockSize);
    const AesBlockOut out(pOut + static_cast<std::size_t>(b) * kBlockSize, kBlockSize);
    if constexpr (kEncrypt) {
      AesEncryptBlock(context, in, out);
    } else {
      AesDecryptBlock(context, in, out);
    }
  }
  SecureWipe(context);
}

}  // namespace
}  // namespace bluefin

void BlueFinEncryptBlocks(const VUInt8 *pIn, VInt32 length, const VUInt8 *pKey, VInt32 keyBits,
                          VUInt8 *pOut) {
  bluefin::EcbBlocks<true>(pIn, length, pKey, keyBits, pOut);
}

void BlueFinDecryptBlocks(const VUInt8 *pIn, VInt32 length, const VUInt8 *pKey, VInt32 keyBits,
                          VUInt8 *pOut) {
  bluefin::EcbBlocks<false>(pIn, length, pKey, keyBits, pOut);
}
