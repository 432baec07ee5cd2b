// AES-256-ECB through Windows' CNG, the emulator's cipher where libcrypto is
// not at hand. Like the libcrypto one, it shares nothing with the module's
// own AES.
#include <windows.h>
// bcrypt.h needs windows.h's types first.
#include <bcrypt.h>

#include <stdexcept>

#include "emulator/cipher.h"

namespace bluefin::emu {
namespace {

void Check(NTSTATUS status) {
  if (status < 0) {
    throw std::runtime_error("BCrypt AES-256-ECB failed");
  }
}

// ECB has no chaining, so the whole buffer goes in one call; no padding
// because frames carry whole blocks and their own length.
}  // namespace

void RunAesEcb(const Key &key, std::span<std::uint8_t> data, bool encrypt) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  Check(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0));
  BCRYPT_KEY_HANDLE keyHandle = nullptr;
  NTSTATUS status = BCryptSetProperty(algorithm, BCRYPT_CHAINING_MODE,
                                      reinterpret_cast<PUCHAR>(const_cast<wchar_t *>(BCRYPT_CHAIN_MODE_ECB)),
                                      sizeof(BCRYPT_CHAIN_MODE_ECB), 0);
  if (status >= 0) {
    status = BCryptGenerateSymmetricKey(algorithm, &keyHandle, nullptr, 0, const_cast<PUCHAR>(key.data()),
                                        static_cast<ULONG>(key.size()), 0);
  }
  ULONG written = 0;
  if (status >= 0) {
    const auto size = static_cast<ULONG>(data.size());
    status = encrypt ? BCryptEncrypt(keyHandle, data.data(), size, nullptr, nullptr, 0, data.data(), size,
                                     &written, 0)
                     : BCryptDecrypt(keyHandle, data.data(), size, nullptr, nullptr, 0, data.data(), size,
                                     &written, 0);
  }
  if (keyHandle != nullptr) {
    BCryptDestroyKey(keyHandle);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  Check(status);
  if (written != data.size()) {
    throw std::runtime_error("BCrypt AES-256-ECB failed");
  }
}

}  // namespace bluefin::emu
