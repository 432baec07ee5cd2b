// The POSIX calls both Linux backends share: readiness waits, receive, send,
// shutdown, close, address text, the socket library's start-up and clean-up
// (nothing to do on POSIX) and the random source. A backend adds only how
// its socket is opened and connected.
#ifndef VDM_BLUETOOTH_PLATFORM_POSIX_COMMON_H
#define VDM_BLUETOOTH_PLATFORM_POSIX_COMMON_H

#include "bluetooth/platform/platform.h"

namespace vdm::platform::posix {

// A descriptor is stored one up, so that descriptor 0 (possible in a host
// that closed its standard input) is not mistaken for no socket.
inline SocketHandle HandleFromDescriptor(int fd) {
  return static_cast<SocketHandle>(fd) + 1;
}
inline int DescriptorFromHandle(SocketHandle socket) {
  return static_cast<int>(socket - 1);
}

// Fills *pFailure with the current errno and the call's name; returns false.
bool FailWithErrno(const wchar_t *szAt, Failure *pFailure);

bool Startup(Failure *pFailure);
bool Cleanup(Failure *pFailure);
int Wait(SocketHandle socket, Readiness readiness, WaitLimit limit, Failure *pFailure);
std::int64_t Receive(SocketHandle socket, void *pBuffer, VUInt32 size, Failure *pFailure);
std::int64_t Send(SocketHandle socket, const void *pBuffer, VUInt32 size, Failure *pFailure);
bool Shutdown(SocketHandle socket, Failure *pFailure);
bool Close(SocketHandle socket, Failure *pFailure);
bool StringToAddress(const wchar_t *szText, VBluetoothSocketAddress *pAddress, Failure *pFailure);
bool AddressToString(const VBluetoothSocketAddress *pAddress, wchar_t *szText, VUInt32 *pLength,
                     Failure *pFailure);
bool SecureRandom(VUInt8 *pBuffer, VUInt32 size, Failure *pFailure);

// A close-on-exec stream socket of the family and protocol; a failure is
// reported "at socket".
bool OpenStream(int family, int protocol, SocketHandle *pSocket, Failure *pFailure);
// connect() to the peer's address of the given length; a failure is reported
// "at connect" with errno.
bool ConnectTo(SocketHandle socket, const void *pPeer, unsigned length, Failure *pFailure);

// A backend's table: the shared calls, and the backend's own open and
// connect, which are all that differ between the radio and the emulated link.
PlatformCalls BackendCalls(decltype(PlatformCalls::open) open, decltype(PlatformCalls::connect) connect);

}  // namespace vdm::platform::posix

#endif  // VDM_BLUETOOTH_PLATFORM_POSIX_COMMON_H
