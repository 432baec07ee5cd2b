// A tiny host for driving the emulator in tests: a raw socket on the
// abstract name and its own frame and cipher code over libcrypto, written
// apart from the emulator's so that each checks the other.
#ifndef BLUEFIN_TESTS_EMULATOR_SCANNER_CLIENT_H
#define BLUEFIN_TESTS_EMULATOR_SCANNER_CLIENT_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
  int fd_ = -1;
};

void Decrypt(const ClientKey &key, Bytes &blocks);
ClientKey DefaultKey();
std::uint16_t Sum16(const std::uint8_t *bytes, std::size_t n);

// The decoder a host runs: v from 128, pixel n of the stream at index
// 92159 - n, codes low bits first.
std::vector<std::uint8_t> DecodeParts(const std::vector<Bytes> &partPayloads);

}  // namespace bluefin::emu::test

#endif  // BLUEFIN_TESTS_EMULATOR_SCANNER_CLIENT_H
