// A tiny host for driving the emulator in tests: a raw socket on the
// abstract name and its own frame and cipher code over libcrypto, written
// apart from the emulator's so that each checks the other; the commands as a
// host sends them.
#ifndef BLUEFIN_TESTS_EMULATOR_SCANNER_CLIENT_H
#define BLUEFIN_TESTS_EMULATOR_SCANNER_CLIENT_H

#include <gtest/gtest.h>

#include <sys/types.h>
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/emulator.h"
#include "tests/emulator/unique_address.h"

namespace bluefin::emu::test {

using Bytes = std::vector<std::uint8_t>;
using ClientKey = std::array<std::uint8_t, 32>;

// One response frame as read off the wire: the header as it stands, and the
// blocks decrypted under the client's key.
struct Frame {
  std::uint32_t declaredLength = 0;
  bool dataChecksumOk = false;
  bool headerChecksumOk = false;
  Bytes plain;  // all blocks; the payload is the first declaredLength bytes
  std::uint8_t code() const { return plain.empty() ? 0 : plain[0]; }
};

class ScannerClient {
 public:
  explicit ScannerClient(const std::string &listenName);
  ~ScannerClient();
  ScannerClient(const ScannerClient &) = delete;
  ScannerClient &operator=(const ScannerClient &) = delete;

  bool connected() const { return fd_ >= 0; }
  ClientKey key;

  static Bytes CommandFrame(const Bytes &command, const ClientKey &key);
  bool Send(const Bytes &bytes);
  bool SendCommand(const Bytes &command) { return Send(CommandFrame(command, key)); }

  // Reads exactly n bytes; nullopt if the peer closed first or nothing came
  // for several seconds (a hung emulator, never a timing under test).
  std::optional<Bytes> Read(std::size_t n);
  // Reads a header and the blocks its length calls for.
  std::optional<Frame> ReadFrame();
  // Reads until the peer closes and returns everything read; nullopt if the
  // peer stayed open.
  std::optional<Bytes> ReadToEnd();
  // One command, one good frame back; the payload or nullopt.
  std::optional<Bytes> Exchange(const Bytes &command);

 private:
  // What one recv gives once the peer is readable, 0 when the stream ended
  // (closed or reset); -1 if the peer stayed silent.
  ssize_t Receive(std::uint8_t *buffer, std::size_t n);
  int fd_ = -1;
};

void Cipher(const ClientKey &key, Bytes &blocks, bool encrypt);
ClientKey DefaultKey();
std::uint16_t Sum16(const std::uint8_t *bytes, std::size_t n);

// The decoder a host runs: v from 128, pixel n of the stream at index
// 92159 - n, codes low bits first.
std::vector<std::uint8_t> DecodeParts(const std::vector<Bytes> &partPayloads);

// A running emulator on an address of its own.
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

#endif  // BLUEFIN_TESTS_EMULATOR_SCANNER_CLIENT_H
