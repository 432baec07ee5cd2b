#include "tests/emulator/scanner_client.h"

#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace bluefin::emu::test {
namespace {

constexpr int kHungPeerMs = 10000;

}  // namespace

void Cipher(const ClientKey &key, Bytes &blocks, bool encrypt) {
  EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
  int n = 0;
  const bool ok =
      EVP_CipherInit_ex(context, EVP_aes_256_ecb(), nullptr, key.data(), nullptr, encrypt) == 1 &&
      EVP_CIPHER_CTX_set_padding(context, 0) == 1 &&
      EVP_CipherUpdate(context, blocks.data(), &n, blocks.data(), static_cast<int>(blocks.size())) == 1;
  EVP_CIPHER_CTX_free(context);
  if (!ok) {
    throw std::runtime_error("EVP failed");
  }
}

ClientKey DefaultKey() {
  ClientKey key{};
  std::memcpy(key.data(), "Tremolo Quaxbin Fendrowit Saylor", key.size());
  return key;
}

std::uint16_t Sum16(const std::uint8_t *bytes, std::size_t n) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sum += bytes[i];
  }
  return static_cast<std::uint16_t>(sum);
}

ScannerClient::ScannerClient(const std::string &listenName) : key(DefaultKey()) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, listenName.data(), listenName.size());
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + listenName.size());
  if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr *>(&address), length) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

ScannerClient::~ScannerClient() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

Bytes ScannerClient::CommandFrame(const Bytes &command, const ClientKey &key) {
  Bytes body(command);
  body.resize((command.size() + 15) / 16 * 16, 0);
  Cipher(key, body, true);
  const std::uint16_t data = Sum16(body.data(), body.size());
  Bytes frame = {0, static_cast<std::uint8_t>(command.size()), static_cast<std::uint8_t>(data >> 8),
                 static_cast<std::uint8_t>(data)};
  const std::uint16_t header = Sum16(frame.data(), 4);
  frame.push_back(static_cast<std::uint8_t>(header >> 8));
  frame.push_back(static_cast<std::uint8_t>(header));
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

bool ScannerClient::Send(const Bytes &bytes) {
  return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

ssize_t ScannerClient::Receive(std::uint8_t *buffer, std::size_t n) {
  pollfd ready = {fd_, POLLIN, 0};
  if (::poll(&ready, 1, kHungPeerMs) != 1) {
    return -1;
  }
  return std::max<ssize_t>(::recv(fd_, buffer, n, 0), 0);
}

std::optional<Bytes> ScannerClient::Read(std::size_t n) {
  Bytes out(n);
  for (std::size_t done = 0; done < n;) {
    const ssize_t got = Receive(out.data() + done, n - done);
    if (got <= 0) {
      return std::nullopt;
    }
    done += static_cast<std::size_t>(got);
  }
  return out;
}

std::optional<Frame> ScannerClient::ReadFrame() {
  const std::optional<Bytes> header = Read(8);
  if (!header) {
    return std::nullopt;
  }
  const Bytes &h = *header;
  Frame frame;
  frame.declaredLength = (std::uint32_t{h[0]} << 24) | (std::uint32_t{h[1]} << 16) | (h[2] << 8) | h[3];
  frame.headerChecksumOk = Sum16(h.data(), 6) == ((h[6] << 8) | h[7]);
  std::optional<Bytes> body = Read((frame.declaredLength + 15) / 16 * 16);
  if (!body) {
    return std::nullopt;
  }
  frame.dataChecksumOk = Sum16(body->data(), body->size()) == ((h[4] << 8) | h[5]);
  Cipher(key, *body, false);
  frame.plain = std::move(*body);
  return frame;
}

std::optional<Bytes> ScannerClient::ReadToEnd() {
  Bytes out;
  std::uint8_t buffer[4096];
  for (ssize_t got; (got = Receive(buffer, sizeof(buffer))) != 0;) {
    if (got < 0) {
      return std::nullopt;
    }
    out.insert(out.end(), buffer, buffer + got);
  }
  return out;
}

std::optional<Bytes> ScannerClient::Exchange(const Bytes &command) {
  if (!SendCommand(command)) {
    return std::nullopt;
  }
  std::optional<Frame> frame = ReadFrame();
  if (!frame || !frame->dataChecksumOk || !frame->headerChecksumOk) {
    return std::nullopt;
  }
  frame->plain.resize(frame->declaredLength);
  return std::move(frame->plain);
}

std::vector<std::uint8_t> DecodeParts(const std::vector<Bytes> &partPayloads) {
  static constexpr std::uint8_t kDelta[8] = {0xC0, 0xEA, 0xF8, 0xFD, 0x03, 0x08, 0x16, 0x40};
  std::vector<std::uint8_t> image(92160, 0);
  std::size_t position = image.size();
  std::uint8_t v = 128;
  for (std::size_t part = 0; part < partPayloads.size(); ++part) {
    const std::size_t groups = part == 11 ? 256 : 1024;
    for (std::size_t g = 0; g < groups; ++g) {
      const std::uint8_t *b = partPayloads[part].data() + 13 + 3 * g;
      const std::uint32_t word = b[0] | (b[1] << 8) | (b[2] << 16);
      for (int k = 0; k < 8; ++k) {
        v = static_cast<std::uint8_t>(v + kDelta[(word >> (3 * k)) & 7]);
        image[--position] = v;
      }
    }
  }
  return image;
}

}  // namespace bluefin::emu::test
