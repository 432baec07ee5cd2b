// BlueZ backend: an AF_BLUETOOTH RFCOMM stream socket. Linux's RFCOMM
// connect needs a channel number where the record may carry none (a zero
// port), so the channel is found first by an SDP service search for the
// record's service class on the remote device.
#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <sys/socket.h>

#include <cerrno>

#include "bluetooth/platform/posix_common.h"

namespace vdm::platform {
namespace {

constexpr wchar_t kAtSdpConnect[] = L"   at sdp_connect\r\n";
constexpr wchar_t kAtSdpSearch[] = L"   at sdp_service_search_attr_req\r\n";
constexpr int kDeviceAddressBytes = 6;

bool Fail(int code, const wchar_t *szAt, Failure *pFailure) {
  pFailure->code = code;
  pFailure->szAt = szAt;
  return false;
}

// bdaddr_t holds the address least significant byte first, the order it
// goes on the air.
bdaddr_t DeviceAddress(VUInt64 btAddr) {
  bdaddr_t address{};
  for (int i = 0; i < kDeviceAddressBytes; ++i) {
    address.b[i] = static_cast<uint8_t>(btAddr >> (8 * i));
  }
  return address;
}

// SDP wants the 128-bit UUID most significant byte first; the record keeps
// it in the GUID's little-endian layout (first three groups byte-swapped).
// A class on the Bluetooth base UUID is searched for in its short form
// (0x1101 for the Serial Port): a server should match either form, but some
// embedded ones match only the 16-bit one.
uuid_t ServiceClass(const VUInt8 serviceClassId[16]) {
  constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) {
    bytes[i] = serviceClassId[kOrder[i]];
  }
  uuid_t uuid{};
  sdp_uuid128_create(&uuid, bytes);
  sdp_uuid128_to_uuid(&uuid);  // shortens it in place when it can
  return uuid;
}

void FreeList(void *pList, void *) {
  sdp_list_free(static_cast<sdp_list_t *>(pList), nullptr);
}
void FreeRecord(void *pRecord) {
  sdp_record_free(static_cast<sdp_record_t *>(pRecord));
}

// The RFCOMM channel of the first record of the service class that has one;
// 0 when none has.
uint8_t ChannelOf(const sdp_list_t *records) {
  for (const sdp_list_t *entry = records; entry != nullptr; entry = entry->next) {
    sdp_list_t *protocols = nullptr;
    if (sdp_get_access_protos(static_cast<const sdp_record_t *>(entry->data), &protocols) != 0) {
      continue;
    }
    int channel = sdp_get_proto_port(protocols, RFCOMM_UUID);
    sdp_list_foreach(protocols, FreeList, nullptr);
    sdp_list_free(protocols, nullptr);
    if (channel > 0 && channel <= 30) {
      return static_cast<uint8_t>(channel);
    }
  }
  return 0;
}

// Service discovery over its own L2CAP link. A device without a record of
// the class is refused like a connect to a port nobody listens on.
bool FindChannel(const bdaddr_t &device, const VUInt8 serviceClassId[16], uint8_t *pChannel,
                 Failure *pFailure) {
  bdaddr_t any{};  // BDADDR_ANY is a C compound literal, not valid C++
  // sdp_connect closes its socket when a signal interrupts the page, so
  // the page starts over.
  sdp_session_t *session = nullptr;
  do {
    session = sdp_connect(&any, &device, SDP_RETRY_IF_BUSY);
  } while (session == nullptr && errno == EINTR);
  if (session == nullptr) {
    return Fail(errno, kAtSdpConnect, pFailure);
  }

  // One-element lists on the stack: nothing to allocate or free.
  uuid_t serviceClass = ServiceClass(serviceClassId);
  uint32_t allAttributes = 0x0000FFFF;
  sdp_list_t search{nullptr, &serviceClass};
  sdp_list_t attributes{nullptr, &allAttributes};
  sdp_list_t *records = nullptr;
  // An error response from the server leaves errno as it was.
  errno = 0;
  const int searched =
      sdp_service_search_attr_req(session, &search, SDP_ATTR_REQ_RANGE, &attributes, &records);
  const int searchError = errno != 0 ? errno : EIO;
  const uint8_t channel = searched == 0 ? ChannelOf(records) : 0;
  sdp_list_free(records, FreeRecord);
  sdp_close(session);

  if (searched != 0) {
    return Fail(searchError, kAtSdpSearch, pFailure);
  }
  if (channel == 0) {
    return Fail(ECONNREFUSED, kAtConnect, pFailure);
  }
  *pChannel = channel;
  return true;
}

bool Open(SocketHandle *pSocket, Failure *pFailure) {
  return posix::OpenStream(AF_BLUETOOTH, BTPROTO_RFCOMM, pSocket, pFailure);
}

bool Connect(SocketHandle socket, const VBluetoothSocketAddress *pAddress, Failure *pFailure) {
  if (pAddress->addressFamily != V_BLUETOOTH_ADDRESS_FAMILY) {
    return Fail(EAFNOSUPPORT, kAtConnect, pFailure);
  }
  sockaddr_rc peer{};
  peer.rc_family = AF_BLUETOOTH;
  peer.rc_bdaddr = DeviceAddress(pAddress->btAddr);
  peer.rc_channel = static_cast<uint8_t>(pAddress->port);
  if (pAddress->port == 0 &&
      !FindChannel(peer.rc_bdaddr, pAddress->serviceClassId, &peer.rc_channel, pFailure)) {
    return false;
  }
  return posix::ConnectTo(socket, &peer, sizeof(peer), pFailure);
}

}  // namespace

const PlatformCalls &PlatformDefault() {
  static const PlatformCalls kCalls = common::BackendCalls(Open, Connect);
  return kCalls;
}

}  // namespace vdm::platform
