// VBluetoothSocket: an RFCOMM stream that moves exact byte counts, each
// readiness wait bounded by the caller's time-out. All platform work goes
// through the seam; nothing here knows which link is underneath.
#include <v_core.h>

#include "bluetooth/bluetooth_types.h"
#include "bluetooth/platform/platform.h"
#include "bluetooth/v_bluetooth.h"
#include "support/errors.h"
#include "support/object_types.h"
#include "support/results.h"

using vdm::ArgumentNull;
using vdm::Fail;
using vdm::FailBare;
using vdm::bluetooth::BluetoothSocketInstance;
using vdm::bluetooth::InstanceOf;
using vdm::platform::Failure;
using vdm::platform::Platform;
using vdm::platform::Readiness;
using vdm::platform::RecordFailure;
using vdm::platform::WaitLimit;

namespace {

constexpr VUInt32 kLargestTransfer = 0x7FFFFFFF;

vdm::TypeSlot gSocketType;

BluetoothSocketInstance *SocketOf(HVBluetoothSocket hBluetoothSocket) {
  return InstanceOf<BluetoothSocketInstance>(hBluetoothSocket);
}

// Every socket holds a start-up of the platform's socket library of its
// own, from before it is opened until it is closed. The module's plug and
// unplug hold one more, but a socket may outlive an unplug: a creation that
// was still connecting, a close handed to a capture. Were the module's
// clean-up the process's last, the platform would close such a socket
// under its owner, and the scanner would keep its session key.
void ForgetSocket(BluetoothSocketInstance *pSocket) {
  pSocket->socketHandle = vdm::platform::kNoSocket;
  Failure ignored;
  Platform().cleanup(&ignored);
}

VResult OpenAndConnect(BluetoothSocketInstance *pSocket, const VBluetoothSocketAddress *pAddr) {
  Failure failure;
  if (!Platform().startup(&failure)) {
    return RecordFailure(failure);
  }
  // On failure the object keeps no socket: its handle stays zero.
  if (!Platform().open(&pSocket->socketHandle, &failure)) {
    Failure ignored;
    Platform().cleanup(&ignored);
    return RecordFailure(failure);
  }
  if (!Platform().connect(pSocket->socketHandle, pAddr, &failure)) {
    return RecordFailure(failure);
  }
  pSocket->isConnected = V_TRUE;
  return V_OK;
}

// What differs between the two directions of a transfer.
struct Direction {
  Readiness readiness;
  const wchar_t *szTimeoutMessage;
  // A receive of 0 bytes is the peer's end of stream; a send of 0 bytes
  // moved nothing yet and is tried again after the next wait.
  bool zeroIsEndOfStream;
};

constexpr Direction kReceiving{Readiness::kReadable, L"Timeout while reading from bluetooth socket", true};
constexpr Direction kSending{Readiness::kWritable, L"Timeout while writing to bluetooth socket", false};

// The checks and loop both directions share. move(place, remaining,
// &failure) is the platform's receive or send. Bytes already moved when a
// step fails stay moved; the socket stays connected.
template <typename Byte, typename Move>
VResult Transfer(HVBluetoothSocket hBluetoothSocket, Byte *pBuffer, VUInt32 size, VUInt32 timeout,
                 const Direction &direction, Move move) {
  if (hBluetoothSocket == nullptr) {
    return ArgumentNull(L"hBluetoothSocket");
  }
  if (pBuffer == nullptr) {
    return ArgumentNull(L"pBuffer");
  }
  if (size > kLargestTransfer) {
    return FailBare(V_E_OVERFLOW);
  }
  BluetoothSocketInstance *pSocket = SocketOf(hBluetoothSocket);
  if (!pSocket->isConnected) {
    return Fail(V_E_INVALID_OPERATION, L"Socket is not connected");
  }
  // The same full limit for every wait: it bounds each wait, not the call.
  const WaitLimit limit = vdm::platform::WaitLimitFromMilliseconds(timeout);
  Byte *pPlace = pBuffer;
  VUInt32 remaining = size;
  while (remaining > 0) {
    Failure failure;
    int ready = Platform().wait(pSocket->socketHandle, direction.readiness, limit, &failure);
    if (ready < 0) {
      return RecordFailure(failure);
    }
    if (ready == 0) {
      return Fail(V_E_TIMEOUT, direction.szTimeoutMessage);
    }
    std::int64_t count = move(pSocket->socketHandle, pPlace, remaining, &failure);
    if (count < 0) {
      return RecordFailure(failure);
    }
    if (count == 0 && direction.zeroIsEndOfStream) {
      return FailBare(V_E_END_OF_STREAM);
    }
    if (count > remaining) {
      return FailBare(V_E_OVERFLOW);
    }
    pPlace += count;
    remaining -= static_cast<VUInt32>(count);
  }
  return V_OK;
}

}  // namespace

VResult V_CALL VBluetoothSocketConnect(const VBluetoothSocketAddress *pAddr,
                                       HVBluetoothSocket *phBluetoothSocket) {
  if (pAddr == nullptr) {
    return ArgumentNull(L"pAddr");
  }
  if (phBluetoothSocket == nullptr) {
    return ArgumentNull(L"phBluetoothSocket");
  }
  HVObject hLocal = nullptr;
  VResult result = vdm::NewInstance(VBluetoothSocketTypeOf, &hLocal);
  if (VSucceeded(result)) {
    result = OpenAndConnect(SocketOf(hLocal), pAddr);
  }
  if (VSucceeded(result)) {
    *phBluetoothSocket = hLocal;  // the allocation's reference moves out
    hLocal = nullptr;
  }
  // On failure this disposes the half-made object, closing its socket. On
  // success there is nothing left to release, and no release whose failure
  // could report a failure for an object already handed out.
  return vdm::ReleaseHalfMade(result, &hLocal);
}

VResult V_CALL VBluetoothSocketReceive(HVBluetoothSocket hBluetoothSocket, void *pBuffer, VUInt32 size,
                                       VUInt32 timeout) {
  return Transfer(hBluetoothSocket, static_cast<VUInt8 *>(pBuffer), size, timeout, kReceiving,
                  Platform().receive);
}

VResult V_CALL VBluetoothSocketSend(HVBluetoothSocket hBluetoothSocket, const void *pBuffer, VUInt32 size,
                                    VUInt32 timeout) {
  return Transfer(hBluetoothSocket, static_cast<const VUInt8 *>(pBuffer), size, timeout, kSending,
                  Platform().send);
}

VResult V_CALL VBluetoothSocketShutdown(HVBluetoothSocket hBluetoothSocket) {
  if (hBluetoothSocket == nullptr) {
    return ArgumentNull(L"hBluetoothSocket");
  }
  BluetoothSocketInstance *pSocket = SocketOf(hBluetoothSocket);
  VResult result = V_OK;
  Failure failure;
  if (pSocket->isConnected && !Platform().shutdown(pSocket->socketHandle, &failure)) {
    result = RecordFailure(failure);
  }
  // Not connected afterwards even when the shutdown failed: the stream is
  // not to be used again either way.
  pSocket->isConnected = V_FALSE;
  return result;
}

// Forgets the handle whatever close says: the platform has released it, and
// closing it again could close a descriptor another thread was just given.
VResult V_CALL VBluetoothSocketClose(HVBluetoothSocket hBluetoothSocket) {
  if (hBluetoothSocket == nullptr) {
    return ArgumentNull(L"hBluetoothSocket");
  }
  BluetoothSocketInstance *pSocket = SocketOf(hBluetoothSocket);
  if (pSocket->socketHandle == vdm::platform::kNoSocket) {
    return V_OK;
  }
  Failure failure;
  bool closed = Platform().close(pSocket->socketHandle, &failure);
  ForgetSocket(pSocket);
  return closed ? V_OK : RecordFailure(failure);
}

VResult V_CALL VBluetoothSocketDispose(HVObject hObject) {
  if (hObject == nullptr) {
    return ArgumentNull(L"hObject");
  }
  BluetoothSocketInstance *pSocket = SocketOf(hObject);
  if (pSocket->socketHandle == vdm::platform::kNoSocket) {
    return V_OK;
  }
  VResult result = VBluetoothSocketShutdown(hObject);
  if (VFailed(result)) {
    // The object is going away, so the socket is closed all the same or it
    // would leak; the shutdown's failure stays the one the caller hears.
    Failure ignored;
    Platform().close(pSocket->socketHandle, &ignored);
    ForgetSocket(pSocket);
    return result;
  }
  return VBluetoothSocketClose(hObject);
}

VResult V_CALL VBluetoothSocketTypeOf(HVType *phType) {
  return vdm::TypeOf(VBluetoothSocketTypeInit, &gSocketType, phType);
}

VResult V_CALL VBluetoothSocketTypeInit(VTypeDescriptor **ppType) {
  return vdm::NewTypeDescriptor(L"VBluetoothSocket", sizeof(BluetoothSocketInstance), VBluetoothSocketDispose,
                                nullptr, ppType);
}
