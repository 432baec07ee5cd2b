// The block cipher against the standard's example vectors, and the ECB loops'
// lengths, buffers and key sizes. Beyond these, the scanner emulator reads
// every frame in the suites with its own cipher (libcrypto's, or CNG's).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bluefin/aes.h"
#include "bluefin/bluefin.h"

namespace vdm::bluefin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string &hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// FIPS-197's example: the same plaintext under 128-, 192- and 256-bit keys.
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

TEST(AesCipher, EcbTouchesWholeBlocksOnly) {
  const Bytes key = FromHex(kVectors[2].key), block = FromHex(kPlaintext),
              cipher = FromHex(kVectors[2].ciphertext);
  Bytes plain = block;
  plain.insert(plain.end(), block.begin(), block.end());
  plain.resize(40, 0xA5);  // two equal blocks and 8 bytes of a third

  for (const auto &[length, blocks] : {std::pair<VInt32, int>{40, 2}, {32, 2}, {31, 1}, {15, 0}, {0, 0}}) {
    Bytes out(40, 0x5A);
    BlueFinEncryptBlocks(plain.data(), length, key.data(), 256, out.data());
    Bytes expected(40, 0x5A);
    for (int i = 0; i < blocks; ++i)
      std::copy(cipher.begin(), cipher.end(), expected.begin() + 16 * i);
    EXPECT_EQ(out, expected) << "length " << length;
  }
  // In place, and back into another buffer.
  Bytes round = plain;
  BlueFinEncryptBlocks(round.data(), 40, key.data(), 256, round.data());
  EXPECT_TRUE(std::equal(cipher.begin(), cipher.end(), round.begin() + 16));
  Bytes back(40, 0xA5);
  BlueFinDecryptBlocks(round.data(), 40, key.data(), 256, back.data());
  EXPECT_EQ(back, plain);

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
