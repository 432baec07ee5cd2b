// The Windows Sockets pieces both Windows backends build their own open and
// connect from: sockets as seam handles, Winsock failures, non-blocking
// mode. winsock_common.cpp also defines the calls they share outright
// (backend_calls.h), like the POSIX pair on Linux.
#ifndef VDM_BLUETOOTH_PLATFORM_WINSOCK_COMMON_H
#define VDM_BLUETOOTH_PLATFORM_WINSOCK_COMMON_H

#include <winsock2.h>

#include "bluetooth/platform/backend_calls.h"

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

}  // namespace vdm::platform::winsock

#endif  // VDM_BLUETOOTH_PLATFORM_WINSOCK_COMMON_H
