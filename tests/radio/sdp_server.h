// The SDP server of a remote device in the tests: service records built with
// libbluetooth's own record functions, and answers to ServiceSearchAttribute
// requests as real SDP PDUs, split into continued responses when they exceed
// the response limit. Only that request is served; any other gets an
// "invalid request syntax" error response.
#ifndef TESTS_RADIO_SDP_SERVER_H
#define TESTS_RADIO_SDP_SERVER_H

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vdm::radio::test {

struct ServiceRecord {
  std::vector<std::uint16_t> classes;  // the ServiceClassIDList, in order
  // The RFCOMM channel in the protocol list; without one the service runs
  // on L2CAP alone.
  std::optional<std::uint8_t> channel;
  std::string name = "Service";
  bool listsProtocols = true;  // false: no ProtocolDescriptorList at all
};

inline constexpr std::uint16_t kSerialPortClass = 0x1101;
inline constexpr std::uint16_t kDialupNetworkingClass = 0x1103;
inline constexpr std::uint16_t kObexObjectPushClass = 0x1105;

enum class SdpAnswer {
  kRecords,
  kInsufficientResources,  // the error response of a server too busy to answer
  kCloseWithoutAnswer,     // the server drops the channel on the request
};

class SdpServer {
 public:
  // The attribute bytes one response carries at most, with the default
  // L2CAP MTU of 672 less the PDU header, the byte count and the
  // continuation state.
  static constexpr std::size_t kDefaultResponseLimit = 672 - 5 - 2 - 3;

  SdpServer() = default;
  ~SdpServer();
  SdpServer(const SdpServer &) = delete;
  SdpServer &operator=(const SdpServer &) = delete;

  void Add(const ServiceRecord &record);
  SdpAnswer answer = SdpAnswer::kRecords;
  std::size_t responseLimit = kDefaultResponseLimit;
  // Like some embedded servers: a 128-bit UUID in the search pattern never
  // matches, even one on the Bluetooth base UUID.
  bool matchShortUuidsOnly = false;

  // What one channel remembers between a response and its continuation.
  struct Session {
    std::vector<std::uint8_t> request;  // the parameters before the continuation state
    std::vector<std::uint8_t> lists;    // the whole AttributeLists
  };
  // The response PDU to a request PDU; nullopt: close the channel.
  std::optional<std::vector<std::uint8_t>> Respond(std::span<const std::uint8_t> request, Session &session);

  // The size in bits of every UUID searched for, request by request.
  std::vector<int> searchedUuidBits;

 private:
  std::vector<std::uint8_t> SearchAttributes(std::span<const std::uint8_t> parameters, std::uint16_t tid,
                                             Session &session);

  std::vector<sdp_record_t *> records_;
  std::uint32_t nextHandle_ = 0x10000;
};

}  // namespace vdm::radio::test

#endif  // TESTS_RADIO_SDP_SERVER_H
