// The emulated link on Windows: a TCP stream to 127.0.0.1 at the port
// emulated_link.h derives from the device and service class, so that a
// scanner emulator can stand in for the radio under Wine, which has neither
// AF_BTH nor AF_UNIX. Only opening and connecting differ from the radio.
#include <ws2tcpip.h>

#include <string>

#include "bluetooth/platform/emulated_link.h"
#include "bluetooth/platform/winsock_common.h"

namespace vdm::platform {
namespace {

constexpr wchar_t kAtSocket[] = L"   at socket\r\n";
constexpr wchar_t kAtConnect[] = L"   at connect\r\n";

bool Open(SocketHandle *pSocket, Failure *pFailure) {
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET)
    return winsock::FailWithLastError(kAtSocket, pFailure);
  *pSocket = winsock::HandleFromSocket(socket);
  return true;
}

// The link name uses the bare "XX:XX:XX:XX:XX:XX" text, whatever brackets
// the platform's own address text carries.
std::string AddressText(VUInt64 btAddr) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int i = 5; i >= 0; --i) {
    const unsigned byte = static_cast<unsigned>(btAddr >> (8 * i)) & 0xFFu;
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xFu];
    if (i != 0)
      text += ':';
  }
  return text;
}

bool Connect(SocketHandle socket, const VBluetoothSocketAddress *pAddress, Failure *pFailure) {
  if (pAddress->addressFamily != V_BLUETOOTH_ADDRESS_FAMILY) {
    pFailure->code = WSAEAFNOSUPPORT;
    pFailure->szAt = kAtConnect;
    return false;
  }
  const std::string name = EmulatedLinkName(AddressText(pAddress->btAddr), pAddress->serviceClassId);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(EmulatedLinkPort(name));
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(winsock::SocketFromHandle(socket), reinterpret_cast<const sockaddr *>(&peer), sizeof(peer)) ==
      SOCKET_ERROR) {
    return winsock::FailWithLastError(kAtConnect, pFailure);
  }
  return winsock::MakeNonBlocking(socket, pFailure);
}

}  // namespace

const PlatformCalls &PlatformDefault() {
  static const PlatformCalls kCalls = winsock::BackendCalls(Open, Connect);
  return kCalls;
}

}  // namespace vdm::platform
