// Helpers shared by the transport's tests: host footprint counts, a
// recording and scriptable table on the platform seam, and a raw peer on the
// emulated link.
#ifndef TESTS_BLUETOOTH_TEST_SUPPORT_H
#define TESTS_BLUETOOTH_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <v_core.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bluetooth/platform/platform.h"
#include "bluetooth/v_bluetooth.h"
#include "framework/v_support.h"
#include "tests/emulator/unique_address.h"

namespace vdm::test {

using vfw::GetLastError;
using vfw::Handle;
using vfw::MakeString;
using vfw::ToWString;
using Names = std::vector<std::string>;
// An address no other test process uses at the same time, so that parallel
// tests never share an abstract name.
using bluefin::emu::test::UniqueAddress;

// Releases the reference and returns what the release (the dispose) gave.
VResult Release(Handle &handle);

// A platform call as the seam saw it.
struct PlatformCall {
  std::string name;  // the PlatformCalls member: "open", "wait", "receive", ...
  platform::WaitLimit limit{};
  platform::Readiness readiness{};
};

// What a scripted call does instead of the inner table: fail, or give a
// result (wait: 1 or 0; receive and send: the count).
struct Outcome {
  bool fails = false;
  platform::Failure failure{};
  std::int64_t value = 0;
};
inline Outcome Fails(VInt32 code, const wchar_t *szAt) {
  return {true, {code, szAt}, -1};
}
inline Outcome Gives(std::int64_t value) {
  return {false, {}, value};
}

// A table on the seam that records every call and forwards it to an inner
// table (the backend's, or one that succeeds without a platform) unless the
// test scripted the call's next outcome.
class FakePlatform {
 public:
  static FakePlatform &Get();
  // Open gives a made-up socket, waits are ready, transfers move everything.
  static const platform::PlatformCalls &AlwaysSucceeds();

  void Install(const platform::PlatformCalls &inner);
  void Uninstall();
  void Script(const std::string &name, Outcome outcome) { scripts_[name].push_back(outcome); }
  bool TakeScript(const std::string &name, Outcome *pOutcome);
  Names CallNames() const;
  std::vector<PlatformCall> CallsNamed(const std::string &name) const;

  std::vector<PlatformCall> calls;
  // Runs after every call, with the call's name.
  std::function<void(const std::string &)> after;
  const platform::PlatformCalls *inner = nullptr;

 private:
  std::map<std::string, std::deque<Outcome>> scripts_;
};

Handle MakeDevice(const std::wstring &addressText, const wchar_t *szName = L"Scanner");

// A raw peer listening on the emulated link's abstract name for a device and
// service class. A connect completes into the listen queue, so the test
// accepts after connecting, on its own thread.
class TestPeer {
 public:
  TestPeer(const std::string &address, const VUInt8 serviceClass[16]);
  ~TestPeer();
  TestPeer(const TestPeer &) = delete;
  TestPeer &operator=(const TestPeer &) = delete;

  int Accept();
  void Write(int fd, const std::vector<VUInt8> &bytes);
  void Close(int fd);

 private:
  int listener_ = -1;
  std::vector<int> accepted_;
};

// The platform's own codes for the failures the link tests provoke, defined
// beside each platform's test peer.
struct PlatformCodes {
  VInt32 refused;   // a connect nobody listens for
  VInt32 invalid;   // address text that is no address
  VInt32 peerGone;  // a send to a peer that closed
};
extern const PlatformCodes kPlatformCodes;

// Primes the types, so that their one-time registration is not counted as
// a leak, and compares the host's live objects and allocations at the end.
class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  FakePlatform &Seam() { return FakePlatform::Get(); }

 private:
  std::pair<VInt64, VInt64> baseline_;
};

// The thread's last error is the platform's failure: V_E_WIN32 with its code
// and the failed call's name.
void ExpectPlatformError(VInt32 code, const wchar_t *szAt);

}  // namespace vdm::test

#endif  // TESTS_BLUETOOTH_TEST_SUPPORT_H
