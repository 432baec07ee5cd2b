// The emulated link on Windows: a TCP stream to 127.0.0.1 at the port
// emulated_link.h derives from the device and service class, so that a
// scanner emulator can stand in for the radio under Wine, which has neither
// AF_BTH nor AF_UNIX. Opening, connecting and the address text differ from
// the radio; waits, transfers and the rest are the shared Winsock calls.
#include <ws2tcpip.h>

#include <string>

#include "bluetooth/platform/address_text.h"
#include "bluetooth/platform/emulated_link.h"
#include "bluetooth/platform/winsock_common.h"

namespace vdm::platform {
namespace {

// Room for "XX:XX:XX:XX:XX:XX" and its terminating zero.
constexpr VUInt32 kAddressTextCapacity = 18;

bool Open(SocketHandle *pSocket, Failure *pFailure) {
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) {
    return winsock::FailWithLastError(kAtSocket, pFailure);
  }
  *pSocket = winsock::HandleFromSocket(socket);
  return true;
}

// Wine has no Bluetooth address conversion, so the emulated link converts
// the text itself, the way it reads on Windows without the brackets.
bool StringToAddress(const wchar_t *szText, VBluetoothSocketAddress *pAddress, Failure *pFailure) {
  if (AddressFromText(szText, pAddress) == TextFault::kNone) {
    return true;
  }
  pFailure->code = WSAEINVAL;
  pFailure->szAt = kAtStringToAddress;
  return false;
}

bool AddressToString(const VBluetoothSocketAddress *pAddress, wchar_t *szText, VUInt32 *pLength,
                     Failure *pFailure) {
  const TextFault fault = AddressToText(pAddress, szText, pLength);
  if (fault == TextFault::kNone) {
    return true;
  }
  pFailure->code = fault == TextFault::kNoRoom ? WSAEFAULT : WSAEINVAL;
  pFailure->szAt = kAtAddressToString;
  return false;
}

bool Connect(SocketHandle socket, const VBluetoothSocketAddress *pAddress, Failure *pFailure) {
  wchar_t text[kAddressTextCapacity];
  VUInt32 length = kAddressTextCapacity;
  if (AddressToText(pAddress, text, &length) != TextFault::kNone) {
    pFailure->code = WSAEAFNOSUPPORT;
    pFailure->szAt = kAtConnect;
    return false;
  }
  // The text is plain ASCII hexadecimal and colons.
  const std::string name = EmulatedLinkName(std::string(text, text + length - 1), pAddress->serviceClassId);
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

PlatformCalls EmulatedCalls() {
  PlatformCalls calls = common::BackendCalls(Open, Connect);
  calls.stringToAddress = StringToAddress;
  calls.addressToString = AddressToString;
  return calls;
}

}  // namespace

const PlatformCalls &PlatformDefault() {
  static const PlatformCalls kCalls = EmulatedCalls();
  return kCalls;
}

}  // namespace vdm::platform
