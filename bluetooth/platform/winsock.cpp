// Winsock backend: an AF_BTH RFCOMM stream socket. Windows finds the RFCOMM
// channel itself from the record's service class when the port is 0.
#include "bluetooth/platform/winsock_common.h"

#include <ws2bth.h>

namespace vdm::platform {
namespace {

bool Open(SocketHandle *pSocket, Failure *pFailure) {
  const SOCKET socket = ::socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
  if (socket == INVALID_SOCKET) {
    return winsock::FailWithLastError(kAtSocket, pFailure);
  }
  *pSocket = winsock::HandleFromSocket(socket);
  return true;
}

// The record is SOCKADDR_BTH byte for byte; it goes to connect as it is.
bool Connect(SocketHandle socket, const VBluetoothSocketAddress *pAddress, Failure *pFailure) {
  if (connect(winsock::SocketFromHandle(socket), reinterpret_cast<const sockaddr *>(pAddress),
              sizeof(SOCKADDR_BTH)) == SOCKET_ERROR) {
    return winsock::FailWithLastError(kAtConnect, pFailure);
  }
  return winsock::MakeNonBlocking(socket, pFailure);
}

}  // namespace

const PlatformCalls &PlatformDefault() {
  static const PlatformCalls kCalls = common::BackendCalls(Open, Connect);
  return kCalls;
}

}  // namespace vdm::platform
