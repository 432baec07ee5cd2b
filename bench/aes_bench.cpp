// AES-256-ECB, the module's table-driven code against OpenSSL's, on the
// buffer sizes the packet layer uses: 3088 bytes for an image part and one
// block for a short answer. Both sides set their key up at every call, as
// the packet layer does (it keeps no expanded key between frames).
#include <openssl/evp.h>

#include <array>
#include <memory>
#include <vector>

#include "bench/masks.h"
#include "bluefin/bluefin.h"
#include "ratio_table.h"

namespace {

constexpr std::array<VUInt8, 32> kKey = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                                         0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                                         0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};

std::vector<VUInt8> Buffer(std::int64_t size) {
  std::vector<VUInt8> buffer(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    buffer[i] = static_cast<VUInt8>(i * 131 + 7);
  }
  return buffer;
}

template <void (*kBlocks)(const VUInt8 *, VInt32, const VUInt8 *, VInt32, VUInt8 *)>
void ModuleAes(benchmark::State &state) {
  std::vector<VUInt8> buffer = Buffer(state.range(0));
  for (auto _ : state) {
    kBlocks(buffer.data(), static_cast<VInt32>(buffer.size()), kKey.data(), 256, buffer.data());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void ModuleAesEncrypt(benchmark::State &state) {
  ModuleAes<BlueFinEncryptBlocks>(state);
}
void ModuleAesDecrypt(benchmark::State &state) {
  ModuleAes<BlueFinDecryptBlocks>(state);
}

void OpenSslAes(benchmark::State &state, int encrypt) {
  const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                                EVP_CIPHER_CTX_free);
  std::vector<VUInt8> buffer = Buffer(state.range(0));
  const int size = static_cast<int>(buffer.size());
  for (auto _ : state) {
    int written = 0;
    if (EVP_CipherInit_ex(context.get(), EVP_aes_256_ecb(), nullptr, kKey.data(), nullptr, encrypt) != 1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1 ||
        EVP_CipherUpdate(context.get(), buffer.data(), &written, buffer.data(), size) != 1 ||
        written != size) {
      state.SkipWithError("OpenSSL AES failed");
      break;
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void OpenSslAesEncrypt(benchmark::State &state) {
  OpenSslAes(state, 1);
}
void OpenSslAesDecrypt(benchmark::State &state) {
  OpenSslAes(state, 0);
}

}  // namespace

BENCHMARK(ModuleAesEncrypt)->Arg(bench::kAesBufferSize)->Arg(16);
BENCHMARK(ModuleAesDecrypt)->Arg(bench::kAesBufferSize)->Arg(16);
BENCHMARK(OpenSslAesEncrypt)->Arg(bench::kAesBufferSize)->Arg(16);
BENCHMARK(OpenSslAesDecrypt)->Arg(bench::kAesBufferSize)->Arg(16);
