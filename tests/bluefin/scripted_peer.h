// A scanner played by a script: listens on the emulated link's name for a
// fresh address, accepts connections on its own thread and runs the test's
// script on each. Frames are built and read here independently of the
// module's code, with libcrypto for the cipher.
#ifndef TESTS_BLUEFIN_SCRIPTED_PEER_H
#define TESTS_BLUEFIN_SCRIPTED_PEER_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "openssl_aes.h"

namespace bluefin_test {

Key DefaultKey();

// An address no other peer of any process uses ("B1:..."), so that tests can
// run side by side.
std::string UniqueAddress();

// A plaintext response payload: the response code for commandCode, zeros up
// to size, and the given bytes at their offsets.
Bytes Payload(std::uint8_t commandCode, std::size_t size,
              std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes = {});

// Ways to spoil a response frame.
struct FrameTweaks {
  std::optional<std::int32_t> lengthField = std::nullopt;  // the header's payload length, if not the true one
  std::uint16_t dataChecksumDelta = 0;
  std::uint16_t headerChecksumDelta = 0;
  bool headerOnly = false;
};

// The payload padded with zeros to whole blocks and encrypted under key.
Bytes ResponseFrame(const Key &key, const Bytes &payload, const FrameTweaks &tweaks = {});
// A frame around ciphertext as it is, checksums made right.
Bytes RawResponseFrame(const Bytes &ciphertext, std::int32_t lengthField);

struct CommandFrame {
  std::size_t frameSize = 0;
  int length = 0;    // from the header
  Bytes ciphertext;  // the encrypted blocks as sent
  Bytes plaintext;   // decrypted under the peer's key at the time
  std::uint8_t code() const { return plaintext.empty() ? 0 : plaintext[0]; }
};

class PeerConnection {
 public:
  explicit PeerConnection(int fd) : fd_(fd) {}
  // The key the peer reads and answers under.
  Key key = DefaultKey();
  // The next command frame, its checksums verified; nullopt when the stream
  // ended (or stalled, which fails the test).
  std::optional<CommandFrame> ReadCommand();
  // The next command, which must carry code: nullopt otherwise.
  std::optional<CommandFrame> Expect(std::uint8_t code);
  void Send(const Bytes &bytes);
  void Respond(const Bytes &payload, const FrameTweaks &tweaks = {}) {
    Send(ResponseFrame(key, payload, tweaks));
  }
  // Answers the opening echo as a scanner does.
  void AnswerEcho();
  // Takes a key command, says yes under the old key, then uses the new one.
  Key AcceptKey();
  // True when the module closes the stream without sending anything more.
  bool EndsWithoutMore();

 private:
  bool ReadExactly(std::uint8_t *p, std::size_t count);
  int fd_;
};

class ScriptedPeer {
 public:
  using Script = std::function<void(PeerConnection &)>;
  ScriptedPeer();
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer &) = delete;
  ScriptedPeer &operator=(const ScriptedPeer &) = delete;

  const std::string &address() const { return address_; }
  // Accepts connections one after another, running the script on each.
  void Start(Script script, int connections = 1);
  // Waits for the scripts to end: read what they recorded after this.
  void Join();

 private:
  std::string address_;
  int listener_ = -1;
  std::thread thread_;
};

}  // namespace bluefin_test

#endif  // TESTS_BLUEFIN_SCRIPTED_PEER_H
