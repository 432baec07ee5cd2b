// An address for an emulated scanner made from the process and a counter, so
// that test processes running side by side never share one.
#ifndef BLUEFIN_TESTS_EMULATOR_UNIQUE_ADDRESS_H
#define BLUEFIN_TESTS_EMULATOR_UNIQUE_ADDRESS_H

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <string>

namespace bluefin::emu::test {

inline std::string UniqueAddress() {
  static std::atomic<unsigned> counter{0};
#if defined(_WIN32)
  // Under Wine each prefix numbers its processes from the same small values,
  // so two build trees' test programs may share a process id: a random draw
  // made once per process tells them apart.
  static const unsigned pid = static_cast<unsigned>(::getpid()) ^ (std::random_device{}() << 8);
#else
  const unsigned pid = static_cast<unsigned>(::getpid());
#endif
  const unsigned n = counter++;
  char text[18];
  std::snprintf(text, sizeof(text), "0A:%02X:%02X:%02X:%02X:%02X", (pid >> 16) & 0xFF, (pid >> 8) & 0xFF,
                pid & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
  return text;
}

}  // namespace bluefin::emu::test

#endif  // BLUEFIN_TESTS_EMULATOR_UNIQUE_ADDRESS_H
