// The block cipher against the standard's example vectors and against
// libcrypto, and the ECB loops' handling of lengths and buffers.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

#include <openssl/evp.h>

#include "bluefin/aes.h"
#include "bluefin/bluefin.h"

namespace vdm::bluefin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Key = std::array<std::uint8_t, 32>;

Bytes LibcryptoEncrypt(const Key &key, const Bytes &plain) {
  EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
  Bytes out(plain.size() + 16);
  int written = 0;
  int last = 0;
  const bool ok =
      EVP_EncryptInit_ex(context, EVP_aes_256_ecb(), nullptr, key.data(), nullptr) == 1 &&
      EVP_CIPHER_CTX_set_padding(context, 0) == 1 &&
      EVP_EncryptUpdate(context, out.data(), &written, plain.data(), static_cast<int>(plain.size())) == 1 &&
      EVP_EncryptFinal_ex(context, out.data() + written, &last) == 1;
  EVP_CIPHER_CTX_free(context);
  EXPECT_TRUE(ok);
  out.resize(static_cast<std::size_t>(written + last));
  return out;
}

Bytes FromHex(const std::string &hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// The example vectors of FIPS-197: the same plaintext under 128-, 192- and
// 256-bit keys.
struct Vector {
  const char *key;
  const char *ciphertext;
};
constexpr const char *kPlaintext = "00112233445566778899aabbccddeeff";
constexpr Vector kVectors[] = {
    {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(AesCipher, StandardVectorsBothWays) {
  for (const Vector &v : kVectors) {
    const Bytes key = FromHex(v.key);
    const Bytes plain = FromHex(kPlaintext);
    const Bytes cipher = FromHex(v.ciphertext);
    SCOPED_TRACE(v.key);
    AesContext encrypt;
    AesContext decrypt;
    ASSERT_TRUE(AesSetKey(encrypt, key.data(), static_cast<VInt32>(key.size() * 8), true));
    ASSERT_TRUE(AesSetKey(decrypt, key.data(), static_cast<VInt32>(key.size() * 8), false));
    Bytes block(16);
    AesEncryptBlock(encrypt, AesBlockIn(plain.data(), 16), AesBlockOut(block.data(), 16));
    EXPECT_EQ(block, cipher);
    AesDecryptBlock(decrypt, AesBlockIn(cipher.data(), 16), AesBlockOut(block.data(), 16));
    EXPECT_EQ(block, plain);
  }
}

TEST(AesCipher, AgreesWithLibcryptoOnRandomKeysAndBlocks) {
  std::mt19937 random(20260612);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 3000; ++round) {
    Key key;
    for (auto &b : key)
      b = static_cast<std::uint8_t>(byte(random));
    Bytes plain(16 * (1 + round % 3));
    for (auto &b : plain)
      b = static_cast<std::uint8_t>(byte(random));
    const Bytes expected = LibcryptoEncrypt(key, plain);

    // Every other round in place, as the packet layer runs it.
    Bytes out = round % 2 == 0 ? plain : Bytes(plain.size());
    const std::uint8_t *in = round % 2 == 0 ? out.data() : plain.data();
    BlueFinEncryptBlocks(in, static_cast<VInt32>(plain.size()), key.data(), 256, out.data());
    ASSERT_EQ(out, expected) << "round " << round;
    BlueFinDecryptBlocks(out.data(), static_cast<VInt32>(out.size()), key.data(), 256, out.data());
    ASSERT_EQ(out, plain) << "round " << round;
  }
}

TEST(AesCipher, EcbTouchesWholeBlocksOnly) {
  const Key key{};
  const Bytes block = FromHex(kPlaintext);
  Bytes plain = block;
  plain.insert(plain.end(), block.begin(), block.end());
  plain.resize(40, 0xA5);  // two equal blocks and 8 bytes of a third
  const Bytes whole = LibcryptoEncrypt(key, Bytes(plain.begin(), plain.begin() + 32));

  struct Case {
    VInt32 length;
    std::size_t blocksChanged;
  };
  for (const Case c : {Case{40, 2}, Case{32, 2}, Case{31, 1}, Case{15, 0}, Case{0, 0}}) {
    Bytes out(40, 0x5A);
    BlueFinEncryptBlocks(plain.data(), c.length, key.data(), 256, out.data());
    Bytes expected(40, 0x5A);
    std::copy_n(whole.begin(), 16 * c.blocksChanged, expected.begin());
    EXPECT_EQ(out, expected) << "length " << c.length;
  }
  // ECB: equal plaintext blocks give equal ciphertext blocks.
  EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 16, whole.begin() + 16));
  // A key size the cipher does not take leaves no plaintext looking like
  // ciphertext: the whole blocks come out zero, both ways.
  Bytes wiped(40, 0x5A);
  std::fill_n(wiped.begin(), 32, 0);
  for (auto blocks : {BlueFinEncryptBlocks, BlueFinDecryptBlocks}) {
    Bytes out(40, 0x5A);
    blocks(plain.data(), 40, key.data(), 64, out.data());
    EXPECT_EQ(out, wiped);
  }
}

}  // namespace
}  // namespace vdm::bluefin::test
