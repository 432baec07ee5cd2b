// AES-256-ECB through OpenSSL's libcrypto, the emulator's cipher on Linux. It
// shares nothing with the module's own AES.
#include "emulator/cipher.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace bluefin::emu {
namespace {

struct ContextDeleter {
  void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};

}  // namespace

void RunAesEcb(const Key &key, std::span<std::uint8_t> data, bool encrypt) {
  std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter> context(EVP_CIPHER_CTX_new());
  int written = 0;
  int finished = 0;
  // ECB has no chaining, so running the whole buffer in one update is the
  // same as block by block; padding is off because frames carry whole
  // blocks and their own length.
  const bool ok = context != nullptr &&
                  EVP_CipherInit_ex(context.get(), EVP_aes_256_ecb(), nullptr, key.data(), nullptr,
                                    encrypt ? 1 : 0) == 1 &&
                  EVP_CIPHER_CTX_set_padding(context.get(), 0) == 1 &&
                  EVP_CipherUpdate(context.get(), data.data(), &written, data.data(),
                                   static_cast<int>(data.size())) == 1 &&
                  EVP_CipherFinal_ex(context.get(), data.data() + written, &finished) == 1;
  if (!ok || static_cast<std::size_t>(written + finished) != data.size()) {
    throw std::runtime_error("libcrypto AES-256-ECB failed");
  }
}

}  // namespace bluefin::emu
