// A remote Bluetooth device for the fake kernel (fake_kernel.cpp): it
// answers the pages for its address, serves SDP on PSM 1 from its service
// records (sdp_server.cpp, with libbluetooth's record functions) and relays
// an RFCOMM channel to a scanner emulator, on one thread, so that a test
// can reset the stream in the middle of a capture.
#ifndef TESTS_RADIO_REMOTE_DEVICE_H
#define TESTS_RADIO_REMOTE_DEVICE_H

#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "tests/radio/radio_wire.h"

namespace vdm::radio::test {

inline constexpr std::uint16_t kSerialPortClass = 0x1101;
inline constexpr std::uint16_t kDialupNetworkingClass = 0x1103;
inline constexpr std::uint16_t kObexObjectPushClass = 0x1105;

struct ServiceRecord {
  std::vector<std::uint16_t> classes;  // the ServiceClassIDList, in order
  // The RFCOMM channel in the protocol list; without one the service runs
  // on L2CAP alone.
  std::optional<std::uint8_t> channel;
  bool listsProtocols = true;  // false: no ProtocolDescriptorList at all
};

enum class SdpAnswer {
  kRecords,
  kInsufficientResources,  // the error response of a server too busy to answer
  kCloseWithoutAnswer,     // the server drops the channel on the request
};

// What one connect gets: 0, or the errno the kernel reports; interrupted:
// connect() fails with EINTR first and the outcome comes in the background.
struct Verdict {
  int error = 0;
  bool interrupted = false;
};

// What a device offers and how it answers, fixed before it runs.
struct DeviceSetup {
  std::vector<ServiceRecord> records{};
  // The RFCOMM channel leading to the abstract name; any other is refused.
  std::uint8_t served = 0;
  std::string listenName{};
  // The verdicts of the first SDP and RFCOMM connects; the rest succeed.
  std::vector<Verdict> sdpPages{};
  std::vector<Verdict> rfcommPages{};
  SdpAnswer answer = SdpAnswer::kRecords;
  // The default L2CAP MTU less the PDU header, byte count and continuation.
  std::size_t responseLimit = 672 - 5 - 2 - 3;
  // Like some embedded servers: a 128-bit UUID in the pattern never matches.
  bool matchShortUuidsOnly = false;
};

class RemoteDevice {
 public:
  // Answers pages at the address ("0A:11:22:33:44:55", upper case) from now on.
  RemoteDevice(const std::string &address, DeviceSetup setup);
  ~RemoteDevice();

  // The stream is closed under the host's next bytes, unread: a reset.
  void ResetOnNextHostBytes() { resetArmed_ = true; }

  // The RFCOMM channels asked for, in order, and the SDP connects.
  std::vector<std::uint8_t> RfcommConnects() const;
  int SdpConnects() const;

 private:
  using Bytes = std::vector<std::uint8_t>;
  struct Relay {
    int host;
    int scanner;
    void Close();
  };

  void Run();
  void AnswerPage(int control);
  int Accepted(const ConnectRequest &request);
  void ServeSdp(int fd);
  void Pump(Relay &relay, bool fromHost);
  // In sdp_server.cpp: the records in libbluetooth's form, and the
  // response PDU to a request PDU (nullopt: close the channel); a channel
  // keeps the whole AttributeLists for their continued parts.
  void AddRecord(const ServiceRecord &record);
  std::optional<Bytes> RespondSdp(std::span<const std::uint8_t> request, Bytes &lists) const;

  const DeviceSetup setup_;
  std::vector<sdp_record_t *> records_;
  std::atomic<bool> resetArmed_ = false;
  mutable std::mutex mutex_;
  Bytes rfcommConnects_;
  int sdpConnects_ = 0;

  int listener_ = -1;
  // Owned by the thread.
  std::size_t sdpPagesSeen_ = 0;
  std::size_t rfcommPagesSeen_ = 0;
  std::map<int, Bytes> sdpSessions_;
  std::vector<Relay> relays_;
  std::thread thread_;
};

}  // namespace vdm::radio::test

#endif  // TESTS_RADIO_REMOTE_DEVICE_H
