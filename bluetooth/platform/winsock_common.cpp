// The Windows Sockets half of the Windows backends, written once for the
// radio and the emulated link: the shared calls of backend_calls.h and the
// helpers of winsock_common.h.
#include "bluetooth/platform/winsock_common.h"

// winsock2.h comes first (from the header): windows.h would otherwise pull
// in the old winsock.h.
#include <windows.h>
// bcrypt.h needs windows.h's types first.
#include <bcrypt.h>
#include <ws2bth.h>

#include <cstddef>
#include <cstring>

namespace vdm::platform {
namespace {

constexpr wchar_t kAtStartup[] = L"   at WSAStartup\r\n";
constexpr wchar_t kAtCleanup[] = L"   at WSACleanup\r\n";
constexpr wchar_t kAtIoctl[] = L"   at ioctlsocket\r\n";
constexpr wchar_t kAtGenRandom[] = L"   at BCryptGenRandom\r\n";

static_assert(sizeof(SOCKADDR_BTH) == sizeof(VBluetoothSocketAddress));
static_assert(sizeof(SOCKADDR_BTH) == V_BLUETOOTH_ADDRESS_SIZE);
static_assert(AF_BTH == V_BLUETOOTH_ADDRESS_FAMILY);
static_assert(offsetof(SOCKADDR_BTH, btAddr) == offsetof(VBluetoothSocketAddress, btAddr));
static_assert(offsetof(SOCKADDR_BTH, serviceClassId) == offsetof(VBluetoothSocketAddress, serviceClassId));
static_assert(offsetof(SOCKADDR_BTH, port) == offsetof(VBluetoothSocketAddress, port));

}  // namespace

namespace winsock {

bool FailWithLastError(const wchar_t *szAt, Failure *pFailure) {
  pFailure->code = WSAGetLastError();
  pFailure->szAt = szAt;
  return false;
}

bool MakeNonBlocking(SocketHandle socket, Failure *pFailure) {
  u_long nonBlocking = 1;
  return ioctlsocket(SocketFromHandle(socket), FIONBIO, &nonBlocking) != SOCKET_ERROR ||
         FailWithLastError(kAtIoctl, pFailure);
}

}  // namespace winsock

namespace common {

using winsock::FailWithLastError;
using winsock::SocketFromHandle;

bool Startup(Failure *pFailure) {
  WSADATA data;
  // WSAStartup returns its error instead of setting the thread's last one.
  const int result = WSAStartup(MAKEWORD(2, 0), &data);
  if (result != 0) {
    pFailure->code = result;
    pFailure->szAt = kAtStartup;
    return false;
  }
  return true;
}

bool Cleanup(Failure *pFailure) {
  return WSACleanup() != SOCKET_ERROR || FailWithLastError(kAtCleanup, pFailure);
}

int Wait(SocketHandle socket, Readiness readiness, WaitLimit limit, Failure *pFailure) {
  // A Winsock fd_set is a counted array of sockets, not a bit set: any
  // socket value fits, unlike POSIX's descriptor-indexed bits.
  fd_set set;
  FD_ZERO(&set);
  FD_SET(SocketFromHandle(socket), &set);
  timeval wait{static_cast<long>(limit.seconds), static_cast<long>(limit.microseconds)};
  // The first argument is ignored by Winsock.
  const int ready = select(0, readiness == Readiness::kReadable ? &set : nullptr,
                           readiness == Readiness::kWritable ? &set : nullptr, nullptr, &wait);
  if (ready == SOCKET_ERROR) {
    FailWithLastError(kAtSelect, pFailure);
    return -1;
  }
  return ready > 0 ? 1 : 0;
}

std::int64_t Receive(SocketHandle socket, void *pBuffer, VUInt32 size, Failure *pFailure) {
  const int count = recv(SocketFromHandle(socket), static_cast<char *>(pBuffer), static_cast<int>(size), 0);
  if (count == SOCKET_ERROR) {
    FailWithLastError(kAtRecv, pFailure);
    return -1;
  }
  return count;
}

std::int64_t Send(SocketHandle socket, const void *pBuffer, VUInt32 size, Failure *pFailure) {
  const int count =
      send(SocketFromHandle(socket), static_cast<const char *>(pBuffer), static_cast<int>(size), 0);
  if (count == SOCKET_ERROR) {
    if (WSAGetLastError() == WSAEWOULDBLOCK) {
      return 0;
    }
    FailWithLastError(kAtSend, pFailure);
    return -1;
  }
  return count;
}

bool Shutdown(SocketHandle socket, Failure *pFailure) {
  return shutdown(SocketFromHandle(socket), SD_BOTH) != SOCKET_ERROR ||
         FailWithLastError(kAtShutdown, pFailure);
}

bool Close(SocketHandle socket, Failure *pFailure) {
  return closesocket(SocketFromHandle(socket)) != SOCKET_ERROR || FailWithLastError(kAtClose, pFailure);
}

bool StringToAddress(const wchar_t *szText, VBluetoothSocketAddress *pAddress, Failure *pFailure) {
  SOCKADDR_BTH record{};
  INT recordLength = sizeof(record);
  // The text parameter is not const in the older headers.
  if (WSAStringToAddressW(const_cast<wchar_t *>(szText), AF_BTH, nullptr,
                          reinterpret_cast<sockaddr *>(&record), &recordLength) == SOCKET_ERROR) {
    return FailWithLastError(kAtStringToAddress, pFailure);
  }
  static_assert(sizeof(record) == sizeof(*pAddress));
  std::memcpy(pAddress, &record, sizeof(record));
  return true;
}

// Writes the platform's own text (it may bracket the address); the device
// object keeps only the address.
bool AddressToString(const VBluetoothSocketAddress *pAddress, wchar_t *szText, VUInt32 *pLength,
                     Failure *pFailure) {
  SOCKADDR_BTH record;
  std::memcpy(&record, pAddress, sizeof(record));
  DWORD length = *pLength;
  if (WSAAddressToStringW(reinterpret_cast<sockaddr *>(&record), sizeof(record), nullptr, szText, &length) ==
      SOCKET_ERROR) {
    return FailWithLastError(kAtAddressToString, pFailure);
  }
  *pLength = length;
  return true;
}

bool SecureRandom(VUInt8 *pBuffer, VUInt32 size, Failure *pFailure) {
  const NTSTATUS status = BCryptGenRandom(nullptr, pBuffer, size, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status < 0) {
    pFailure->code = static_cast<VInt32>(status);
    pFailure->szAt = kAtGenRandom;
    return false;
  }
  return true;
}

}  // namespace common
}  // namespace vdm::platform
