// AES-256-ECB in place over whole 16-byte blocks, through OpenSSL's
// libcrypto (Windows' CNG where libcrypto is not at hand). The scanner side deliberately shares no cipher
// code with the module, so that the two implementations check each other.
#ifndef BLUEFIN_EMULATOR_CIPHER_H
#define BLUEFIN_EMULATOR_CIPHER_H

#include <cstdint>
#include <span>
#include <stdexcept>

#include "emulator/protocol.h"

namespace bluefin::emu {

// The platform's AES-256-ECB in place over data, whole blocks and not empty.
// Throws std::runtime_error if the library fails (it only does when it
// cannot allocate).
void RunAesEcb(const Key &key, std::span<std::uint8_t> data, bool encrypt);

// data.size() must be a multiple of kBlockSize (std::invalid_argument
// otherwise).
inline void CipherBlocks(const Key &key, std::span<std::uint8_t> data, bool encrypt) {
  if (data.size() % kBlockSize != 0) {
    throw std::invalid_argument("AES-ECB needs whole blocks");
  }
  if (!data.empty()) {
    RunAesEcb(key, data, encrypt);
  }
}
inline void EncryptBlocks(const Key &key, std::span<std::uint8_t> data) {
  CipherBlocks(key, data, true);
}
inline void DecryptBlocks(const Key &key, std::span<std::uint8_t> data) {
  CipherBlocks(key, data, false);
}

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_CIPHER_H
