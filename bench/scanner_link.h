// Scanner emulators for the transfer and capture benchmarks, on addresses no
// other process uses, and the link shaped like Bluetooth RFCOMM.
#ifndef BENCH_SCANNER_LINK_H
#define BENCH_SCANNER_LINK_H

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "emulator/emulator.h"

namespace bench {

namespace emu = ::bluefin::emu;

inline std::string UniqueAddress() {
  static std::atomic<unsigned> next{0};
  const auto pid = static_cast<unsigned>(getpid());
  const unsigned n = next++;
  char text[18];
  std::snprintf(text, sizeof text, "BE:%02X:%02X:%02X:%02X:%02X", (pid >> 16) & 0xFF, (pid >> 8) & 0xFF,
                pid & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
  return text;
}

// 1.5 Mbit/s and a 15 ms round trip: what an RFCOMM link to a scanner gives
// in practice.
inline emu::LinkShaping RfcommShaping() {
  emu::LinkShaping shaping;
  shaping.bitsPerSecond = 1'500'000;
  shaping.latency = std::chrono::microseconds(7'500);
  return shaping;
}

}  // namespace bench

#endif  // BENCH_SCANNER_LINK_H
