/*
 * The AES block cipher (FIPS-197) under the packet layer. Keys of 128, 192
 * and 256 bits expand; the scanner protocol uses 256 only. Decryption is the
 * equivalent inverse cipher, so that both directions run the same table-driven
 * round shape.
 */
#ifndef BLUEFIN_AES_H
#define BLUEFIN_AES_H

#include <v_types.h>

#include <array>
#include <span>

#include "bluefin/protocol.h"

namespace vdm::bluefin {

// Nr + 1 round keys of 4 words, for the longest key (Nk = 8, Nr = 14).
inline constexpr int kAesMaxRoundKeyWords = 4 * (8 + 6 + 1);

using AesBlockIn = std::span<const VUInt8, kBlockSize>;
using AesBlockOut = std::span<VUInt8, kBlockSize>;

// Holds expanded keys: wipe it when done (SecureWipe).
struct AesContext {
  int keyWords;        // Nk: 4, 6 or 8; the cipher runs Nk + 6 rounds
  bool forEncryption;  // decryption round keys are made only when false
  std::array<VUInt32, kAesMaxRoundKeyWords> roundKeys;
  // The equivalent inverse cipher's round keys: roundKeys in reverse round
  // order, InvMixColumns applied to all but the first and the last.
  std::array<VUInt32, kAesMaxRoundKeyWords> inverseRoundKeys;
};

// keyBits is rounded up to whole 32-bit words. Returns false, leaving the
// context unusable, for anything but 4, 6 or 8 words.
bool AesSetKey(AesContext &context, const VUInt8 *pKey, VInt32 keyBits, bool forEncryption);
// in and out may be the same block.
void AesEncryptBlock(const AesContext &context, AesBlockIn in, AesBlockOut out);
// Needs a context set with forEncryption false.
void AesDecryptBlock(const AesContext &context, AesBlockIn in, AesBlockOut out);

}  // namespace vdm::bluefin

#endif  // BLUEFIN_AES_H
