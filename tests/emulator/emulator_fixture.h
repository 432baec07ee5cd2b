// Commands as a host sends them and a running emulator on an address of its
// own.
#ifndef BLUEFIN_TESTS_EMULATOR_EMULATOR_FIXTURE_H
#define BLUEFIN_TESTS_EMULATOR_EMULATOR_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "emulator/emulator.h"
#include "tests/emulator/scanner_client.h"
#include "tests/emulator/unique_address.h"

namespace bluefin::emu::test {

inline std::unique_ptr<Emulator> StartEmulator(Options options = {}) {
  options.address = UniqueAddress();
  auto emulator = std::make_unique<Emulator>(std::move(options));
  std::string error;
  EXPECT_TRUE(emulator->Start(&error)) << error;
  return emulator;
}

inline Bytes EchoCommand() {
  return {0x01, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
}
// Its answer: the code with the top bit set, the pattern as sent.
inline Bytes EchoAnswer() {
  return {0x81, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
}
inline Bytes KeyCommand(const ClientKey &key) {
  // Sized up front: GCC 12 at -O2 misreads an insert into a one-byte vector
  // as an out-of-bounds copy.
  Bytes command(1 + key.size());
  command[0] = 0x05;
  std::copy(key.begin(), key.end(), command.begin() + 1);
  return command;
}
inline Bytes StatusCommand(std::uint8_t status) {
  return {0x0C, status};
}
inline Bytes QueryCommand() {
  return {0x09};
}
inline Bytes PartCommand(std::uint8_t part) {
  return {0x11, part};
}

inline ClientKey OtherKey(std::uint8_t seed) {
  ClientKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) {
    key[i] = static_cast<std::uint8_t>(seed + 7 * i);
  }
  return key;
}

// Arms the scanner and polls until it reports an image ready.
inline void ArmUntilReady(ScannerClient &client) {
  ASSERT_EQ(client.Exchange(StatusCommand(1)).value_or(Bytes(16)).at(12), 1);
  for (int poll = 0; poll < 100; ++poll) {
    if (client.Exchange(QueryCommand()).value_or(Bytes(16)).at(13) == 2) {
      return;
    }
  }
  FAIL() << "the scanner never got an image ready";
}

}  // namespace bluefin::emu::test

#endif  // BLUEFIN_TESTS_EMULATOR_EMULATOR_FIXTURE_H
