// What the fake Bluetooth kernel (fake_kernel.cpp) and the remote devices of
// the tests (remote_device.h) say to each other. A remote device listens on
// the abstract AF_UNIX SEQPACKET name "vdm-fake-bluetooth/" + its address
// ("00:11:22:33:44:55", upper case); nobody listening there is a device that
// does not answer pages. For each connect the kernel opens one connection
// and sends a ConnectRequest; the device answers with ConnectReply packets:
// first an optional kInterrupted (a signal arrives while the connect waits:
// connect() fails with EINTR and the connection goes on), then the outcome,
// which on success carries the connected socket as SCM_RIGHTS.
#ifndef TESTS_RADIO_RADIO_WIRE_H
#define TESTS_RADIO_RADIO_WIRE_H

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vdm::radio {

inline constexpr char kRadioNamePrefix[] = "vdm-fake-bluetooth/";

// The protocol numbers are the kernel's (BTPROTO_L2CAP, BTPROTO_RFCOMM).
enum class Link : std::uint8_t { kL2cap = 0, kRfcomm = 3 };

struct ConnectRequest {
  Link link;
  std::uint8_t reserved = 0;
  std::uint16_t port;  // the L2CAP PSM or the RFCOMM channel
};

struct ConnectReply {
  std::int32_t error;  // 0 with the socket attached, an errno, or kInterrupted
};
inline constexpr std::int32_t kInterrupted = -1;

// The abstract AF_UNIX address of the name, and in *pLength its length.
inline sockaddr_un AbstractAddress(const std::string &name, socklen_t *pLength) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  *pLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return address;
}

}  // namespace vdm::radio

#endif  // TESTS_RADIO_RADIO_WIRE_H
