// The raw test peer on Windows: a TCP listener on 127.0.0.1 at the port
// the emulated link derives from the device and service class. The peer
// holds a Winsock start-up of its own for its lifetime, so that tests need
// not plug a module first.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "bluetooth/platform/emulated_link.h"
#include "test_support.h"

namespace vdm::test {
namespace {

SOCKET AsSocket(int fd) {
  return static_cast<SOCKET>(fd);
}

}  // namespace

const PlatformCodes kPlatformCodes{WSAECONNREFUSED, WSAEINVAL, WSAECONNRESET};

TestPeer::TestPeer(const std::string &deviceAddress, const VUInt8 serviceClass[16]) {
  WSADATA data;
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  const std::string name = EmulatedLinkName(deviceAddress, serviceClass);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(EmulatedLinkPort(name));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  listener_ = static_cast<int>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  EXPECT_EQ(bind(AsSocket(listener_), reinterpret_cast<const sockaddr *>(&address), sizeof(address)), 0)
      << WSAGetLastError();
  EXPECT_EQ(listen(AsSocket(listener_), 8), 0) << WSAGetLastError();
}

TestPeer::~TestPeer() {
  for (int fd : accepted_)
    closesocket(AsSocket(fd));
  closesocket(AsSocket(listener_));
  WSACleanup();
}

int TestPeer::Accept() {
  const SOCKET socket = accept(AsSocket(listener_), nullptr, nullptr);
  EXPECT_NE(socket, INVALID_SOCKET) << WSAGetLastError();
  const int fd = static_cast<int>(socket);
  accepted_.push_back(fd);
  return fd;
}

void TestPeer::Write(int fd, const std::vector<VUInt8> &bytes) {
  EXPECT_EQ(
      send(AsSocket(fd), reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()), 0),
      static_cast<int>(bytes.size()));
}

void TestPeer::Close(int fd) {
  std::erase(accepted_, fd);
  closesocket(AsSocket(fd));
}

}  // namespace vdm::test
