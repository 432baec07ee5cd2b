// AES-256-ECB in place over whole 16-byte blocks, through OpenSSL's
// libcrypto. The scanner side deliberately shares no cipher code with the
// module, so that the two implementations check each other.
#ifndef BLUEFIN_EMULATOR_CIPHER_H
#define BLUEFIN_EMULATOR_CIPHER_H

#include <cstdint>
#include <span>

#include "emulator/protocol.h"

namespace bluefin::emu {

// data.size() must be a multiple of kBlockSize. Throws std::runtime_error if
// libcrypto fails (it only does when it cannot allocate).
void EncryptBlocks(const Key &key, std::span<std::uint8_t> data);
void DecryptBlocks(const Key &key, std::span<std::uint8_t> data);

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_CIPHER_H
