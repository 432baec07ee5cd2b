#include "scripted_peer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "bluetooth/platform/emulated_link.h"

namespace bluefin_test {
namespace {

// The Serial Port service class in its little-endian GUID layout.
constexpr VUInt8 kSerialPortClass[16] = {0x01, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,
                                         0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
// Only a broken test waits this long: every script step is answered at once.
constexpr int kStallSeconds = 20;

std::uint16_t Sum16(const std::uint8_t *p, std::size_t count) {
  return static_cast<std::uint16_t>(std::accumulate(p, p + count, 0u));
}

void PutBe16(Bytes &out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<std::uint8_t>(value >> 8);
  out[at + 1] = static_cast<std::uint8_t>(value);
}

Bytes FrameAround(const Bytes &ciphertext, std::int32_t lengthField, const FrameTweaks &tweaks) {
  Bytes frame(8 + (tweaks.headerOnly ? 0 : ciphertext.size()));
  const auto length = static_cast<std::uint32_t>(lengthField);
  for (int i = 0; i < 4; ++i)
    frame[i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
  PutBe16(frame, 4,
          static_cast<std::uint16_t>(Sum16(ciphertext.data(), ciphertext.size()) + tweaks.dataChecksumDelta));
  PutBe16(frame, 6, static_cast<std::uint16_t>(Sum16(frame.data(), 6) + tweaks.headerChecksumDelta));
  if (!tweaks.headerOnly)
    std::copy(ciphertext.begin(), ciphertext.end(), frame.begin() + 8);
  return frame;
}

}  // namespace

Key DefaultKey() {
  Key key;
  std::memcpy(key.data(), "Tremolo Quaxbin Fendrowit Saylor", key.size());
  return key;
}

std::string UniqueAddress() {
  static std::atomic<unsigned> counter{0};
  const unsigned pid = static_cast<unsigned>(getpid());
  const unsigned n = counter++;
  char text[18];
  std::snprintf(text, sizeof text, "B1:%02X:%02X:%02X:%02X:%02X", (pid >> 16) & 0xFF, (pid >> 8) & 0xFF,
                pid & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
  return text;
}

Bytes Payload(std::uint8_t commandCode, std::size_t size,
              std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes) {
  Bytes payload(size);
  payload.at(0) = static_cast<std::uint8_t>(commandCode + 0x80);
  for (const auto &[offset, value] : bytes)
    payload.at(offset) = value;
  return payload;
}

Bytes ResponseFrame(const Key &key, const Bytes &payload, const FrameTweaks &tweaks) {
  Bytes padded = payload;
  padded.resize((payload.size() + 15) / 16 * 16);
  return FrameAround(OpenSslEcb(key, padded, true),
                     tweaks.lengthField.value_or(static_cast<std::int32_t>(payload.size())), tweaks);
}

Bytes RawResponseFrame(const Bytes &ciphertext, std::int32_t lengthField) {
  return FrameAround(ciphertext, lengthField, {});
}

bool PeerConnection::ReadExactly(std::uint8_t *p, std::size_t count) {
  while (count > 0) {
    const ssize_t n = recv(fd_, p, count, 0);
    if (n <= 0) {
      return false;
    }
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<CommandFrame> PeerConnection::ReadCommand() {
  std::uint8_t header[6];
  if (!ReadExactly(header, sizeof header)) {
    return std::nullopt;
  }
  CommandFrame frame;
  frame.length = header[0] << 8 | header[1];
  if (frame.length < 1 || frame.length > 43) {
    ADD_FAILURE() << "command length " << frame.length << " on the wire";
    return std::nullopt;
  }
  frame.ciphertext.resize(static_cast<std::size_t>(frame.length + 15) / 16 * 16);
  if (!ReadExactly(frame.ciphertext.data(), frame.ciphertext.size())) {
    ADD_FAILURE() << "command frame cut short";
    return std::nullopt;
  }
  frame.frameSize = sizeof header + frame.ciphertext.size();
  EXPECT_EQ(header[2] << 8 | header[3], Sum16(frame.ciphertext.data(), frame.ciphertext.size()))
      << "data checksum";
  EXPECT_EQ(header[4] << 8 | header[5], Sum16(header, 4)) << "header checksum";
  frame.plaintext = OpenSslEcb(key, frame.ciphertext, false);
  return frame;
}

std::optional<CommandFrame> PeerConnection::Expect(std::uint8_t code) {
  auto frame = ReadCommand();
  if (!frame || frame->code() != code) {
    ADD_FAILURE() << "expected command " << int{code} << ", got " << (frame ? int{frame->code()} : -1);
    return std::nullopt;
  }
  return frame;
}

void PeerConnection::Send(const Bytes &bytes) {
  // The module may already have given up on the connection; a failed send
  // shows in the test's own expectations.
  (void)send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void PeerConnection::AnswerEcho() {
  if (const auto echo = Expect(0x01)) {
    EXPECT_EQ(echo->length, 16);
    for (int i = 0; i < 15; ++i)
      EXPECT_EQ(echo->plaintext[1 + i], i) << "echo pattern";
    Bytes payload(echo->plaintext.begin(), echo->plaintext.begin() + 16);
    payload[0] = 0x81;
    Respond(payload);
  }
}

Key PeerConnection::AcceptKey() {
  const auto command = Expect(0x05);
  if (!command) {
    return key;
  }
  Key next;
  std::copy_n(command->plaintext.begin() + 1, next.size(), next.begin());
  Respond(Payload(0x05, 16, {{12, 1}}));
  key = next;
  return next;
}

bool PeerConnection::EndsWithoutMore() {
  std::uint8_t byte;
  return recv(fd_, &byte, 1, 0) == 0;
}

ScriptedPeer::ScriptedPeer() : address_(UniqueAddress()) {
  const std::string name = EmulatedLinkName(address_, kSerialPortClass);
  sockaddr_un local{};
  local.sun_family = AF_UNIX;
  std::memcpy(local.sun_path + 1, name.data(), name.size());
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (listener_ < 0 || bind(listener_, reinterpret_cast<const sockaddr *>(&local), length) != 0 ||
      listen(listener_, 4) != 0) {
    ADD_FAILURE() << "cannot listen on " << name << ": " << std::strerror(errno);
  }
}

ScriptedPeer::~ScriptedPeer() {
  Join();
  if (listener_ >= 0)
    close(listener_);
}

void ScriptedPeer::Start(Script script, int connections) {
  thread_ = std::thread([this, script = std::move(script), connections] {
    for (int i = 0; i < connections; ++i) {
      pollfd waiting{listener_, POLLIN, 0};
      if (poll(&waiting, 1, kStallSeconds * 1000) != 1) {
        ADD_FAILURE() << "no connection came";
        return;
      }
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      const timeval stall{kStallSeconds, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &stall, sizeof stall);
      PeerConnection connection(fd);
      script(connection);
      close(fd);
    }
  });
}

void ScriptedPeer::Join() {
  if (thread_.joinable())
    thread_.join();
}

}  // namespace bluefin_test
