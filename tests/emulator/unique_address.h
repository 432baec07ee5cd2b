// An address for an emulated scanner made from the process id and a counter,
// so that test processes running side by side never share one. The emulator
// tests and the command's tests both take theirs from here.
#ifndef BLUEFIN_TESTS_EMULATOR_UNIQUE_ADDRESS_H
#define BLUEFIN_TESTS_EMULATOR_UNIQUE_ADDRESS_H

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace bluefin::emu::test {

inline std::string UniqueAddress() {
  static std::atomic<unsigned> counter{0};
  const unsigned pid = static_cast<unsigned>(::getpid());
  const unsigned n = counter++;
  char text[18];
  std::snprintf(text, sizeof(text), "0A:%02X:%02X:%02X:%02X:%02X", (pid >> 16) & 0xFF, (pid >> 8) & 0xFF,
                pid & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
  return text;
}

}  // namespace bluefin::emu::test

#endif  // BLUEFIN_TESTS_EMULATOR_UNIQUE_ADDRESS_H
