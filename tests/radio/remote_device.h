// A remote Bluetooth device for the fake kernel (fake_kernel.cpp): it answers
// the pages for its address, serves SDP on PSM 1 from its records, and
// carries the RFCOMM channels it serves to a scanner emulator's listen name.
// Every connect can be given the errno a real device and kernel produce
// instead, or be interrupted by a signal first.
//
// One thread serves the device: pages, SDP channels and the RFCOMM streams,
// which it relays byte for byte, so that a test can reset one in the middle
// of a capture. Configuration and observations are thread-safe.
#ifndef TESTS_RADIO_REMOTE_DEVICE_H
#define TESTS_RADIO_REMOTE_DEVICE_H

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/radio/radio_wire.h"
#include "tests/radio/sdp_server.h"

namespace vdm::radio::test {

// What one connect gets: 0, or the errno the kernel reports; interrupted:
// connect() fails with EINTR first and the outcome comes in the background.
struct Verdict {
  int error = 0;
  bool interrupted = false;
};

class RemoteDevice {
 public:
  // Answers pages at the address ("00:11:22:33:44:55") from now on.
  explicit RemoteDevice(const std::string &address);
  ~RemoteDevice();
  RemoteDevice(const RemoteDevice &) = delete;
  RemoteDevice &operator=(const RemoteDevice &) = delete;

  void AddRecord(const ServiceRecord &record);
  void SetSdpAnswer(SdpAnswer answer);
  void SetResponseLimit(std::size_t bytes);
  void MatchShortUuidsOnly(bool only);
  // RFCOMM connects to the channel reach the abstract stream name; a channel
  // nobody serves refuses them (ECONNREFUSED).
  void Serve(std::uint8_t channel, const std::string &listenName);
  // The next connect on the link gets the verdict instead of the default.
  void Script(Link link, Verdict verdict);
  // The next bytes the host sends on a served channel are never read: the
  // stream is closed under them, which the host sees as a reset
  // (ECONNRESET).
  void ResetOnNextHostBytes();

  // The RFCOMM channels asked for, in order, and the SDP searches' UUID sizes.
  std::vector<std::uint8_t> RfcommConnects() const;
  std::vector<int> SearchedUuidBits() const;
  int SdpConnects() const;

 private:
  struct Relay;
  void Run();
  void AnswerPage(int control);
  int Accepted(const ConnectRequest &request);
  void ServeSdp(int fd);
  void Pump(Relay &relay, bool fromHost);

  mutable std::mutex mutex_;
  SdpServer sdp_;
  std::map<std::uint8_t, std::string> channels_;
  std::map<Link, std::deque<Verdict>> scripts_;
  std::vector<std::uint8_t> rfcommConnects_;
  int sdpConnects_ = 0;
  bool resetArmed_ = false;

  int listener_ = -1;
  int stop_ = -1;
  // Owned by the thread.
  std::map<int, SdpServer::Session> sdpSessions_;
  std::vector<std::unique_ptr<Relay>> relays_;
  std::thread thread_;
};

}  // namespace vdm::radio::test

#endif  // TESTS_RADIO_REMOTE_DEVICE_H
