/*
 * The one seam between the Bluetooth objects and the platform: the few
 * socket calls VBluetoothSocket and VBluetoothDevice make, as a table of
 * function pointers. Each backend (BlueZ, the emulated link) fills its own
 * table; everything above the seam is written once. Tests put a recording
 * table in force that wraps the backend's, or fails a call on purpose.
 *
 * A seam call reports a failure in a Failure: the platform's own error code,
 * read right after the failing call (before any clean-up can overwrite it),
 * and the failed call's name in the form the host error keeps as its call
 * stack. The objects record it with RecordFailure.
 */
#ifndef VDM_BLUETOOTH_PLATFORM_H
#define VDM_BLUETOOTH_PLATFORM_H

#include <v_core.h>

#include <cstdint>

#include "bluetooth/v_bluetooth.h"

namespace vdm::platform {

// A socket as the platform gives it, widened to a pointer (Windows' SOCKET
// is one). 0 is no socket: a zero-filled object holds none.
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = 0;

// The limit of one readiness wait, split the way the platform's wait takes it.
struct WaitLimit {
  VUInt32 seconds;
  VUInt32 microseconds;
};

constexpr WaitLimit WaitLimitFromMilliseconds(VUInt32 timeout) {
  return {timeout / 1000, timeout % 1000 * 1000};
}

enum class Readiness { kReadable, kWritable };

struct Failure {
  VInt32 code = 0;
  const wchar_t *szAt = nullptr;  // "   at recv\r\n"
};

// Every call returns false (or -1) on failure and fills *pFailure then.
struct PlatformCalls {
  // Start-up and clean-up of the platform's socket library, once per module.
  bool (*startup)(Failure *pFailure);
  bool (*cleanup)(Failure *pFailure);
  // A blocking stream socket of the link's kind.
  bool (*open)(SocketHandle *pSocket, Failure *pFailure);
  // Connects to the device and service class the record names; with a zero
  // port the backend finds the channel itself. Blocking, no time-out.
  bool (*connect)(SocketHandle socket, const VBluetoothSocketAddress *pAddress, Failure *pFailure);
  // 1 when ready, 0 when the limit ran out first, -1 on failure.
  int (*wait)(SocketHandle socket, Readiness readiness, WaitLimit limit, Failure *pFailure);
  // The count moved, or -1. A receive of 0 is the peer's end of stream; a
  // send of 0 moved nothing yet (the platform's buffer was full).
  std::int64_t (*receive)(SocketHandle socket, void *pBuffer, VUInt32 size, Failure *pFailure);
  std::int64_t (*send)(SocketHandle socket, const void *pBuffer, VUInt32 size, Failure *pFailure);
  // Shuts both directions down.
  bool (*shutdown)(SocketHandle socket, Failure *pFailure);
  // Releases the socket; it is gone afterwards even when this fails.
  bool (*close)(SocketHandle socket, Failure *pFailure);
  // Address text "XX:XX:XX:XX:XX:XX" to record and back. addressToString
  // takes the capacity of szText in *pLength and leaves there the count it
  // wrote, the terminating zero included.
  bool (*stringToAddress)(const wchar_t *szText, VBluetoothSocketAddress *pAddress, Failure *pFailure);
  bool (*addressToString)(const VBluetoothSocketAddress *pAddress, wchar_t *szText, VUInt32 *pLength,
                          Failure *pFailure);
  // Fills the buffer from the platform's cryptographic random source.
  bool (*secureRandom)(VUInt8 *pBuffer, VUInt32 size, Failure *pFailure);
};

// The table in force: the backend's own unless a test put another in force.
const PlatformCalls &Platform();
// The backend's own table; each backend defines it.
const PlatformCalls &PlatformDefault();
// For tests: puts pCalls in force (null: the backend's own again). The table
// must outlive its use; swap only while no socket call runs.
void SetPlatformCalls(const PlatformCalls *pCalls);

// Records the failure as the thread's last error and returns V_E_WIN32.
inline VResult RecordFailure(const Failure &failure) {
  return VErrorSetWin32W(failure.code, nullptr, nullptr, failure.szAt, V_TRUE);
}

}  // namespace vdm::platform

#endif  // VDM_BLUETOOTH_PLATFORM_H
