// The calls a platform's two backends (its radio and its emulated link)
// share: the socket library's start-up and clean-up, readiness waits,
// receive, send, shutdown, close, address text and the random source. Each
// platform defines them once under the same names, POSIX in
// posix_common.cpp, Windows Sockets in winsock_common.cpp; a build compiles
// exactly one of the two, so the table is assembled once, here, for every
// backend of every platform.
#ifndef VDM_BLUETOOTH_PLATFORM_BACKEND_CALLS_H
#define VDM_BLUETOOTH_PLATFORM_BACKEND_CALLS_H

#include "bluetooth/platform/platform.h"

namespace vdm::platform::common {

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

// A backend's table: the platform's shared calls, and the backend's own
// open and connect, which are all that differ between its radio and its
// emulated link.
inline PlatformCalls BackendCalls(decltype(PlatformCalls::open) open,
                                  decltype(PlatformCalls::connect) connect) {
  PlatformCalls calls{};
  calls.startup = Startup;
  calls.cleanup = Cleanup;
  calls.open = open;
  calls.connect = connect;
  calls.wait = Wait;
  calls.receive = Receive;
  calls.send = Send;
  calls.shutdown = Shutdown;
  calls.close = Close;
  calls.stringToAddress = StringToAddress;
  calls.addressToString = AddressToString;
  calls.secureRandom = SecureRandom;
  return calls;
}

}  // namespace vdm::platform::common

#endif  // VDM_BLUETOOTH_PLATFORM_BACKEND_CALLS_H
