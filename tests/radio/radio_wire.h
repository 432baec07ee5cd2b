// Between the fake kernel and the remote devices: a device listens on the
// abstract AF_UNIX SEQPACKET name kRadioNamePrefix + its upper-case address.
// Each connect sends a ConnectRequest on a connection of its own; the
// device replies with an optional kInterrupted (connect() fails with EINTR
// and goes on), then the outcome, with the connected socket as SCM_RIGHTS.
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
