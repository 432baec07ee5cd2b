#include "openssl_aes.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace bluefin_test {

Bytes OpenSslEcb(const Key &key, std::span<const std::uint8_t> data, bool encrypt) {
  const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                                EVP_CIPHER_CTX_free);
  Bytes out(data.size() + 16);
  int written = 0;
  int finalWritten = 0;
  if (!context ||
      EVP_CipherInit_ex(context.get(), EVP_aes_256_ecb(), nullptr, key.data(), nullptr, encrypt) != 1 ||
      EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1 ||
      EVP_CipherUpdate(context.get(), out.data(), &written, data.data(), static_cast<int>(data.size())) !=
          1 ||
      EVP_CipherFinal_ex(context.get(), out.data() + written, &finalWritten) != 1) {
    throw std::runtime_error("libcrypto AES-256-ECB failed");
  }
  out.resize(static_cast<std::size_t>(written + finalWritten));
  return out;
}

}  // namespace bluefin_test
