// The calls a platform's two backends (its radio and its emulated link)
// share: the socket library's start-up and clean-up, readiness waits,
// receive, send, shutdown, close, address text and the random source. Each
// platform defines them once under the same names, POSIX in
// posix_common.cpp, Windows Sockets in winsock_common.cpp; a build compiles
// exactly one of the two, so the table is assembled once, here, for every
// backend of every platform. The names of the failed calls they share are
// here too.
#ifndef VDM_BLUETOOTH_PLATFORM_BACKEND_CALLS_H
#define VDM_BLUETOOTH_PLATFORM_BACKEND_CALLS_H

#include "bluetooth/platform/platform.h"

namespace vdm::platform {

// The failed call as a failure names it, the same on every platform: the
// host's error keeps the call stack the Windows Sockets calls give, so a
// POSIX backend names its readiness wait "select" and its close
// "closesocket" too.
inline constexpr wchar_t kAtSocket[] = L"   at socket\r\n";
inline constexpr wchar_t kAtConnect[] = L"   at connect\r\n";
inline constexpr wchar_t kAtSelect[] = L"   at select\r\n";
inline constexpr wchar_t kAtRecv[] = L"   at recv\r\n";
inline constexpr wchar_t kAtSend[] = L"   at send\r\n";
inline constexpr wchar_t kAtShutdown[] = L"   at shutdown\r\n";
inline constexpr wchar_t kAtClose[] = L"   at closesocket\r\n";
inline constexpr wchar_t kAtStringToAddress[] = L"   at WSAStringToAddressW\r\n";
inline constexpr wchar_t kAtAddressToString[] = L"   at WSAAddressToStringW\r\n";

namespace common {

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
  return {.startup = Startup,
          .cleanup = Cleanup,
          .open = open,
          .connect = connect,
          .wait = Wait,
          .receive = Receive,
          .send = Send,
          .shutdown = Shutdown,
          .close = Close,
          .stringToAddress = StringToAddress,
          .addressToString = AddressToString,
          .secureRandom = SecureRandom};
}

}  // namespace common
}  // namespace vdm::platform

#endif  // VDM_BLUETOOTH_PLATFORM_BACKEND_CALLS_H
