// OpenSSL's CPU feature masks for the AES comparison.
//
// OPENSSL_ia32cap is read once, when libcrypto initialises, so each mask runs
// in a child process of its own. Its first number is CPUID leaf 1 with ECX
// in the high half: bit 57 is AES-NI (ECX bit 25), bit 41 SSSE3 (ECX bit 9),
// bit 33 PCLMULQDQ (ECX bit 1). Without AES-NI, OpenSSL's AES falls back to
// its SSSE3 vector-permute code, which is still not a table lookup; only
// with SSSE3 masked too does it take its table-based software path. The
// mask of AES-NI and PCLMULQDQ is kept to show, by its speed, that it lands
// on the vector-permute code and not on the tables.
#ifndef BENCH_MASKS_H
#define BENCH_MASKS_H

#include <array>

namespace bench {

// The buffer the packet layer decrypts for one image part.
inline constexpr int kAesBufferSize = 3088;

struct OpenSslMask {
  const char *label;
  const char *value;
};

inline constexpr char kTablePathLabel[] = "tables";

inline constexpr std::array<OpenSslMask, 3> kOpenSslMasks = {{
    {"tables", "~0x200020000000000"},           // AES-NI and SSSE3 masked
    {"no-aesni", "~0x200000000000000"},         // AES-NI masked
    {"no-aesni-pclmul", "~0x200000200000000"},  // AES-NI and PCLMULQDQ masked
}};

}  // namespace bench

#endif  // BENCH_MASKS_H
