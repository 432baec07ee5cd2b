// AES-256-ECB from OpenSSL's libcrypto: the reference the tests hold our own
// cipher against, and the scripted peer's cipher.
#ifndef TESTS_BLUEFIN_OPENSSL_AES_H
#define TESTS_BLUEFIN_OPENSSL_AES_H

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace bluefin_test {

using Bytes = std::vector<std::uint8_t>;
using Key = std::array<std::uint8_t, 32>;

// data.size() must be a whole number of blocks.
Bytes OpenSslEcb(const Key &key, std::span<const std::uint8_t> data, bool encrypt);

}  // namespace bluefin_test

#endif  // TESTS_BLUEFIN_OPENSSL_AES_H
