// The Windows Sockets calls both Windows backends share: start-up and
// clean-up, readiness waits, receive, send, shutdown, close, address text
// and the random source. A backend adds only how its socket is opened and
// connected, like the POSIX pair on Linux.
#ifndef VDM_BLUETOOTH_PLATFORM_WINSOCK_COMMON_H
#define VDM_BLUETOOTH_PLATFORM_WINSOCK_COMMON_H

#include <winsock2.h>

#include "bluetooth/platform/platform.h"

namespace vdm::platform::winsock {

// SOCKET's INVALID_SOCKET is all ones and 0 is never handed out as a
// socket, so the handle is stored as it is.
inline SocketHandle HandleFromSocket(SOCKET socket) {
  return static_cast<SocketHandle>(socket);
}
inline SOCKET SocketFromHandle(SocketHandle socket) {
  return static_cast<SOCKET>(socket);
}

// Fills *pFailure with WSAGetLastError() and the call's name; returns false.
bool FailWithLastError(const wchar_t *szAt, Failure *pFailure);

// Makes a connected socket non-blocking, so that the caller's readiness
// wait is the only place a send can stall: a blocking send of more than the
// socket buffer holds would wait for the peer without any limit.
bool MakeNonBlocking(SocketHandle socket, Failure *pFailure);

// A backend's table: the shared calls and the backend's own open and connect.
PlatformCalls BackendCalls(decltype(PlatformCalls::open) open, decltype(PlatformCalls::connect) connect);

}  // namespace vdm::platform::winsock

#endif  // VDM_BLUETOOTH_PLATFORM_WINSOCK_COMMON_H
