/*
 * AES block cipher, as FIPS-197 (Advanced Encryption Standard, NIST 2001)
 * defines it: the key expansion, the cipher, and the equivalent inverse
 * cipher (the cipher's round shape, with round keys passed through
 * InvMixColumns), table-driven on 32-bit little-endian column words; and
 * the ECB block loops the packet layer uses.
 */
#include "bluefin/aes.h"

#include <cassert>
#include <cstddef>

#include "bluefin/aes_tables.h"
#include "bluefin/bluefin.h"
#include "bluefin/secure_wipe.h"

namespace vdm::bluefin {
namespace {

using aes::kTables;

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

int RoundsOf(const AesContext &context) {
  return context.keyWords + 6;
}

// The four columns as separate words, so that they stay in registers.
struct State {
  VUInt32 c0, c1, c2, c3;
};

// Output column j takes byte k from input column j + k·shift: shift 1 is
// ShiftRows, shift 3 (that is, -1) InvShiftRows. With the round tables this is
// a whole round (substitution, row shift, column mix, round key); with the
// spread S-boxes it is the last round, which has no column mix.
[[gnu::always_inline]] inline VUInt32 Column(const aes::WordTables &tables, VUInt32 a, VUInt32 b, VUInt32 c,
                                             VUInt32 d, VUInt32 roundKey) {
  return roundKey ^ tables[0][a & 0xFF] ^ tables[1][(b >> 8) & 0xFF] ^ tables[2][(c >> 16) & 0xFF] ^
         tables[3][d >> 24];
}

[[gnu::always_inline]] inline State ForwardRound(const State &s, const aes::WordTables &tables,
                                                 const VUInt32 *pRoundKey) {
  return {Column(tables, s.c0, s.c1, s.c2, s.c3, pRoundKey[0]),
          Column(tables, s.c1, s.c2, s.c3, s.c0, pRoundKey[1]),
          Column(tables, s.c2, s.c3, s.c0, s.c1, pRoundKey[2]),
          Column(tables, s.c3, s.c0, s.c1, s.c2, pRoundKey[3])};
}

[[gnu::always_inline]] inline State InverseRound(const State &s, const aes::WordTables &tables,
                                                 const VUInt32 *pRoundKey) {
  return {Column(tables, s.c0, s.c3, s.c2, s.c1, pRoundKey[0]),
          Column(tables, s.c1, s.c0, s.c3, s.c2, pRoundKey[1]),
          Column(tables, s.c2, s.c1, s.c0, s.c3, pRoundKey[2]),
          Column(tables, s.c3, s.c2, s.c1, s.c0, pRoundKey[3])};
}

[[gnu::always_inline]] inline State LoadState(const VUInt8 *pIn, const VUInt32 *pRoundKey) {
  return {LoadLe32(pIn) ^ pRoundKey[0], LoadLe32(pIn + 4) ^ pRoundKey[1], LoadLe32(pIn + 8) ^ pRoundKey[2],
          LoadLe32(pIn + 12) ^ pRoundKey[3]};
}

[[gnu::always_inline]] inline void StoreState(const State &s, VUInt8 *pOut) {
  StoreLe32(s.c0, pOut);
  StoreLe32(s.c1, pOut + 4);
  StoreLe32(s.c2, pOut + 8);
  StoreLe32(s.c3, pOut + 12);
}

// One block. The state ends as the output block, so nothing secret is left
// in it to wipe; the round keys are the context's, wiped by its owner.
template <bool kEncrypt>
[[gnu::always_inline]] inline void CipherBlock(const VUInt32 *pRoundKeys, int rounds, const VUInt8 *pIn,
                                               VUInt8 *pOut) {
  State s = LoadState(pIn, pRoundKeys);
  for (int round = 1; round < rounds; ++round) {
    s = kEncrypt ? ForwardRound(s, kTables.forward, pRoundKeys + 4 * round)
                 : InverseRound(s, kTables.inverse, pRoundKeys + 4 * round);
  }
  s = kEncrypt ? ForwardRound(s, kTables.sboxSpread, pRoundKeys + 4 * rounds)
               : InverseRound(s, kTables.inverseSboxSpread, pRoundKeys + 4 * rounds);
  StoreState(s, pOut);
}

template <bool kEncrypt>
void CipherBlocks(const AesContext &context, const VUInt8 *pIn, VUInt8 *pOut, std::size_t blocks) {
  const VUInt32 *pRoundKeys = kEncrypt ? context.roundKeys.data() : context.inverseRoundKeys.data();
  const int rounds = RoundsOf(context);
  for (std::size_t b = 0; b < blocks; ++b, pIn += kBlockSize, pOut += kBlockSize) {
    CipherBlock<kEncrypt>(pRoundKeys, rounds, pIn, pOut);
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
  CipherBlocks<true>(context, in.data(), out.data(), 1);
}

void AesDecryptBlock(const AesContext &context, AesBlockIn in, AesBlockOut out) {
  assert(!context.forEncryption);
  CipherBlocks<false>(context, in.data(), out.data(), 1);
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
  CipherBlocks<kEncrypt>(context, pIn, pOut, static_cast<std::size_t>(blocks));
  SecureWipe(context);
}

}  // namespace
}  // namespace vdm::bluefin

void BlueFinEncryptBlocks(const VUInt8 *pIn, VInt32 length, const VUInt8 *pKey, VInt32 keyBits,
                          VUInt8 *pOut) {
  vdm::bluefin::EcbBlocks<true>(pIn, length, pKey, keyBits, pOut);
}

void BlueFinDecryptBlocks(const VUInt8 *pIn, VInt32 length, const VUInt8 *pKey, VInt32 keyBits,
                          VUInt8 *pOut) {
  vdm::bluefin::EcbBlocks<false>(pIn, length, pKey, keyBits, pOut);
}
