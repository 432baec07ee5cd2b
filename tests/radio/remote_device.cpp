#include "tests/radio/remote_device.h"

#include <bluetooth/sdp_lib.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace vdm::radio::test {
namespace {

constexpr std::uint16_t kSdpPsm = 1;
constexpr std::size_t kLargestPdu = 65535;

void Reply(int control, std::int32_t error, int socket) {
  ConnectReply reply{error};
  iovec data{&reply, sizeof(reply)};
  alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  if (socket >= 0) {
    message.msg_control = space;
    message.msg_controllen = sizeof(space);
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &socket, sizeof(int));
  }
  // The kernel side waits for this; a failure shows there as a reset.
  [[maybe_unused]] const ssize_t sent = sendmsg(control, &message, MSG_NOSIGNAL);
}

}  // namespace

void RemoteDevice::Relay::Close() {
  ::close(host);
  ::close(scanner);
  host = scanner = -1;
}

RemoteDevice::RemoteDevice(const std::string &address, DeviceSetup setup) : setup_(std::move(setup)) {
  for (const ServiceRecord &record : setup_.records) {
    AddRecord(record);
  }
  const std::string name = kRadioNamePrefix + address;
  socklen_t length = 0;
  const sockaddr_un where = AbstractAddress(name, &length);
  listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<const sockaddr *>(&where), length) != 0 ||
      listen(listener_, 8) != 0) {
    ADD_FAILURE() << "cannot answer pages at @" << name << ": " << std::strerror(errno);
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

RemoteDevice::~RemoteDevice() {
  if (thread_.joinable()) {
    shutdown(listener_, SHUT_RDWR);  // the thread sees it hung up, and ends
    thread_.join();
  }
  for (auto &[fd, session] : sdpSessions_) {
    ::close(fd);
  }
  for (Relay &relay : relays_) {
    relay.Close();
  }
  ::close(listener_);
  for (sdp_record_t *record : records_) {
    sdp_record_free(record);
  }
}

std::vector<std::uint8_t> RemoteDevice::RfcommConnects() const {
  std::lock_guard lock(mutex_);
  return rfcommConnects_;
}

int RemoteDevice::SdpConnects() const {
  std::lock_guard lock(mutex_);
  return sdpConnects_;
}

void RemoteDevice::Run() {
  for (;;) {
    std::vector<pollfd> fds{{listener_, POLLIN, 0}};
    for (const auto &[fd, session] : sdpSessions_) {
      fds.push_back({fd, POLLIN, 0});
    }
    for (const Relay &relay : relays_) {
      fds.push_back({relay.host, POLLIN, 0});
      fds.push_back({relay.scanner, POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
      ADD_FAILURE() << "remote device: poll: " << std::strerror(errno);
      return;
    }
    if ((fds[0].revents & POLLHUP) != 0) {
      return;
    }
    // One ready descriptor at a time, as serving one may change the lists.
    const auto ready =
        std::find_if(fds.begin(), fds.end(), [](const pollfd &each) { return each.revents != 0; });
    const auto index = static_cast<std::size_t>(ready - fds.begin());
    if (index == 0) {
      const int control = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (control >= 0) {
        AnswerPage(control);
      }
    } else if (index <= sdpSessions_.size()) {
      ServeSdp(ready->fd);
    } else if (ready != fds.end()) {
      Relay &relay = relays_[(index - 1 - sdpSessions_.size()) / 2];
      Pump(relay, ready->fd == relay.host);
      std::erase_if(relays_, [](const Relay &each) { return each.host < 0; });
    }
  }
}

void RemoteDevice::AnswerPage(int control) {
  ConnectRequest request{};
  if (recv(control, &request, sizeof(request), 0) != static_cast<ssize_t>(sizeof(request))) {
    ::close(control);
    return;
  }
  const bool rfcomm = request.link == Link::kRfcomm;
  const std::vector<Verdict> &script = rfcomm ? setup_.rfcommPages : setup_.sdpPages;
  std::size_t &seen = rfcomm ? rfcommPagesSeen_ : sdpPagesSeen_;
  const Verdict verdict = seen < script.size() ? script[seen++] : Verdict{};
  {
    std::lock_guard lock(mutex_);
    if (rfcomm) {
      rfcommConnects_.push_back(static_cast<std::uint8_t>(request.port));
    } else {
      ++sdpConnects_;
    }
  }
  if (verdict.interrupted) {
    Reply(control, kInterrupted, -1);
  }
  const int socket = verdict.error == 0 ? Accepted(request) : -verdict.error;
  Reply(control, socket < 0 ? -socket : 0, socket);
  if (socket >= 0) {
    ::close(socket);
  }
  ::close(control);
}

// The host's end of a new connection, or -errno.
int RemoteDevice::Accepted(const ConnectRequest &request) {
  int pair[2];
  if (request.link == Link::kL2cap) {
    if (request.port != kSdpPsm) {
      return -ECONNREFUSED;
    }
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
      return -errno;
    }
    sdpSessions_[pair[0]] = {};
    return pair[1];
  }
  if (request.port != setup_.served) {
    return -ECONNREFUSED;  // the device answers DM: nothing on that channel
  }
  socklen_t length = 0;
  const sockaddr_un where = AbstractAddress(setup_.listenName, &length);
  const int scanner = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (scanner < 0 || connect(scanner, reinterpret_cast<const sockaddr *>(&where), length) != 0 ||
      socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    ::close(scanner);
    return -ECONNREFUSED;
  }
  relays_.push_back({pair[0], scanner});
  return pair[1];
}

void RemoteDevice::ServeSdp(int fd) {
  std::vector<std::uint8_t> request(kLargestPdu);
  const ssize_t got = recv(fd, request.data(), request.size(), 0);
  std::optional<Bytes> response;
  if (got > 0) {
    response = RespondSdp({request.data(), static_cast<std::size_t>(got)}, sdpSessions_[fd]);
  }
  // A SEQPACKET socket sends a packet whole or not at all.
  if (!response || send(fd, response->data(), response->size(), MSG_NOSIGNAL) <= 0) {
    ::close(fd);
    sdpSessions_.erase(fd);
  }
}

void RemoteDevice::Pump(Relay &relay, bool fromHost) {
  if (fromHost && resetArmed_.exchange(false)) {
    relay.Close();  // with the host's bytes unread: the host's socket is reset
    return;
  }
  std::uint8_t buffer[4096];
  const int from = fromHost ? relay.host : relay.scanner;
  const int to = fromHost ? relay.scanner : relay.host;
  const ssize_t got = recv(from, buffer, sizeof(buffer), 0);
  // A blocking stream socket sends everything unless the peer is gone.
  if (got <= 0 || send(to, buffer, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got) {
    relay.Close();
  }
}

}  // namespace vdm::radio::test
