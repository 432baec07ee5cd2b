// The POSIX pieces both Linux backends build their own open and connect
// from: descriptors as seam handles, errno failures, the socket and connect
// calls. posix_common.cpp also defines the calls they share outright
// (backend_calls.h); the socket library's start-up and clean-up have nothing
// to do on POSIX.
#ifndef VDM_BLUETOOTH_PLATFORM_POSIX_COMMON_H
#define VDM_BLUETOOTH_PLATFORM_POSIX_COMMON_H

#include <ctime>

#include "bluetooth/platform/backend_calls.h"

namespace vdm::platform::posix {

// A descriptor is stored one up, so that descriptor 0 (possible in a host
// that closed its standard input) is not mistaken for no socket.
inline SocketHandle HandleFromDescriptor(int fd) {
  return static_cast<SocketHandle>(fd) + 1;
}
inline int DescriptorFromHandle(SocketHandle socket) {
  return static_cast<int>(socket - 1);
}

// A wait's deadline on the monotonic clock, and what is left of it when a
// signal cuts the wait short (later - earlier, never below zero).
timespec After(const timespec &now, WaitLimit limit);
timespec Remaining(const timespec &later, const timespec &earlier);

// Fills *pFailure with the current errno and the call's name; returns false.
bool FailWithErrno(const wchar_t *szAt, Failure *pFailure);

// A close-on-exec stream socket of the family and protocol; a failure is
// reported "at socket".
bool OpenStream(int family, int protocol, SocketHandle *pSocket, Failure *pFailure);
// connect() to the peer's address of the given length; a failure is reported
// "at connect" with errno.
bool ConnectTo(SocketHandle socket, const void *pPeer, unsigned length, Failure *pFailure);

}  // namespace vdm::platform::posix

#endif  // VDM_BLUETOOTH_PLATFORM_POSIX_COMMON_H
