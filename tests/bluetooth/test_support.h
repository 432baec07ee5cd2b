// Helpers shared by the transport's and the scanner protocol's tests: a
// recording and scriptable table on the platform seam, a raw peer on the
// emulated link, and a fixture that compares the host's footprint.
#ifndef TESTS_BLUETOOTH_TEST_SUPPORT_H
#define TESTS_BLUETOOTH_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <v_core.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bluetooth/platform/platform.h"
#include "bluetooth/v_bluetooth.h"
#include "emulator/link.h"
#include "framework/v_support.h"
#include "tests/emulator/unique_address.h"
#include "tests/host_footprint.h"

namespace vdm::test {

namespace emu = ::bluefin::emu;
using vfw::GetLastError;
using vfw::Handle;
using vfw::MakeString;
using vfw::ToWString;
using Names = std::vector<std::string>;
// Parallel test processes never share an abstract name.
using bluefin::emu::test::UniqueAddress;

// A platform call as the seam saw it.
struct PlatformCall {
  std::string name;  // the PlatformCalls member: "open", "wait", "receive", ...
  platform::WaitLimit limit{};
  platform::Readiness readiness{};
  std::vector<VUInt8> bytes = {};  // what a send, receive or random draw moved
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
  void Script(const std::string &name, Outcome outcome) { scripts[name].push_back(outcome); }
  Names CallNames() const;
  std::vector<PlatformCall> CallsNamed(const std::string &name) const;

  std::vector<PlatformCall> calls;
  std::function<void(const std::string &)> after;  // run after every call, given its name
  const platform::PlatformCalls *inner = nullptr;
  std::map<std::string, std::deque<Outcome>> scripts;  // each call's next outcomes, by name
};

Handle MakeDevice(const std::string &address, const wchar_t *szName = L"Scanner");

// A raw peer on the emulated link's name for a device and service class: the
// scanner emulator's end of the link, without a scanner. A connect completes
// into the listen queue, so the test accepts after connecting.
class TestPeer {
 public:
  TestPeer(const std::string &address, const VUInt8 serviceClass[16]);

  int Accept();
  void Write(int fd, const std::vector<VUInt8> &bytes);

 private:
  emu::Fd listener_;
  emu::Waker waker_;
  std::vector<emu::Fd> accepted_;
};

// The platform's own codes for a connect nobody listens for and for address
// text that is no address.
#ifdef _WIN32
inline constexpr VInt32 kRefused = 10061, kInvalid = 10022;  // WSAECONNREFUSED, WSAEINVAL
#else
inline constexpr VInt32 kRefused = ECONNREFUSED, kInvalid = EINVAL;
#endif

// Primes the transport's types, so that their one-time registration is not
// counted as a leak. Once a derived fixture's members are gone, it puts the
// platform back and compares the host's footprint.
class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  ~TransportTest() override;
  FakePlatform &Seam() { return FakePlatform::Get(); }

 private:
  HostFootprint baseline_;
};

// The thread's last error is the platform's failure: V_E_WIN32 with its code
// and the failed call's name.
void ExpectPlatformError(VInt32 code, const wchar_t *szAt);

// The call gave code, and the thread's last error agrees on code, message and
// parameter name; without a message only the result is looked at.
::testing::AssertionResult Gave(VResult result, VResult code, const wchar_t *szMessage,
                                const std::wstring &parameter = L"");

}  // namespace vdm::test

#endif  // TESTS_BLUETOOTH_TEST_SUPPORT_H
