// The emulated link: the socket is an AF_UNIX stream to the abstract name
// of the device and service class (emulated_link.h), so a scanner emulator
// can stand in for the radio. Only opening and connecting differ from BlueZ;
// waits, receives, sends, shutdown and close are the shared POSIX calls.
#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "bluetooth/platform/emulated_link.h"
#include "bluetooth/platform/posix_common.h"

namespace vdm::platform {
namespace {

bool Open(SocketHandle *pSocket, Failure *pFailure) {
  return posix::OpenStream(AF_UNIX, 0, pSocket, pFailure);
}

bool Connect(SocketHandle socket, const VBluetoothSocketAddress *pAddress, Failure *pFailure) {
  wchar_t text[64];
  VUInt32 length = 64;
  Failure textFailure;
  if (!common::AddressToString(pAddress, text, &length, &textFailure)) {
    pFailure->code = textFailure.code;
    pFailure->szAt = kAtConnect;
    return false;
  }
  // The text is plain ASCII hexadecimal and colons.
  std::string addressText(text, text + length - 1);
  std::string name = EmulatedLinkName(addressText, pAddress->serviceClassId);

  // The name is always 62 bytes ("bluefin/", the 17 of the address text,
  // "/", the 36 of the UUID): with the leading NUL it fits sun_path's 108.
  sockaddr_un peer{};
  peer.sun_family = AF_UNIX;
  std::memcpy(peer.sun_path + 1, name.data(), name.size());
  return posix::ConnectTo(socket, &peer,
                          static_cast<unsigned>(offsetof(sockaddr_un, sun_path) + 1 + name.size()), pFailure);
}

}  // namespace

const PlatformCalls &PlatformDefault() {
  static const PlatformCalls kCalls = common::BackendCalls(Open, Connect);
  return kCalls;
}

}  // namespace vdm::platform
