// The raw test peer on Linux: an abstract AF_UNIX listener.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "bluetooth/platform/emulated_link.h"
#include "test_support.h"

namespace vdm::test {

const PlatformCodes kPlatformCodes{ECONNREFUSED, EINVAL, EPIPE};

TestPeer::TestPeer(const std::string &deviceAddress, const VUInt8 serviceClass[16]) {
  const std::string name = EmulatedLinkName(deviceAddress, serviceClass);
  // The contract spelled out again here rather than shared with the backend:
  // abstract name after a leading NUL, no trailing NUL counted.
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  EXPECT_EQ(bind(listener_, reinterpret_cast<const sockaddr *>(&address), length), 0) << std::strerror(errno);
  EXPECT_EQ(listen(listener_, 8), 0) << std::strerror(errno);
}

TestPeer::~TestPeer() {
  for (int fd : accepted_)
    close(fd);
  close(listener_);
}

int TestPeer::Accept() {
  const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  EXPECT_GE(fd, 0) << std::strerror(errno);
  accepted_.push_back(fd);
  return fd;
}

void TestPeer::Write(int fd, const std::vector<VUInt8> &bytes) {
  EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

void TestPeer::Close(int fd) {
  std::erase(accepted_, fd);
  close(fd);
}

}  // namespace vdm::test
