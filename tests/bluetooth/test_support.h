// Helpers shared by the transport's tests: owned host handles, the thread's
// last error as plain values, host footprint counts, a recording and
// scriptable table on the platform seam, and a raw peer on the emulated link.
#ifndef TESTS_BLUETOOTH_TEST_SUPPORT_H
#define TESTS_BLUETOOTH_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <v_core.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "bluetooth/platform/platform.h"
#include "bluetooth/v_bluetooth.h"

namespace vdm::test {

// One reference to a host object, released at scope end.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HVObject h) : h_(h) {}
  ~Handle() { reset(); }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  Handle(Handle &&other) noexcept : h_(other.h_) { other.h_ = nullptr; }
  Handle &operator=(Handle &&other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.h_;
      other.h_ = nullptr;
    }
    return *this;
  }
  HVObject get() const { return h_; }
  HVObject *put() {
    reset();
    return &h_;
  }
  VResult reset() { return VObjectSet(nullptr, &h_); }

 private:
  HVObject h_ = nullptr;
};

Handle MakeString(const wchar_t *szText);
std::wstring TextOf(HVString hString);

struct LastError {
  VResult code = 0;
  VInt32 platformCode = 0;
  std::wstring message;
  std::wstring parameter;
  std::wstring callStack;
};
LastError GetLastError();

// Everything the host hands out, compared before and after a test.
struct HostFootprint {
  VInt64 objects;
  VInt64 allocations;
  bool operator==(const HostFootprint &) const = default;
};
HostFootprint TakeFootprint();
std::ostream &operator<<(std::ostream &out, const HostFootprint &footprint);

// A platform call as the seam saw it.
struct PlatformCall {
  std::string name;  // "open", "connect", "wait", "receive", "send", "shutdown", "close", ...
  platform::WaitLimit limit{};
  platform::Readiness readiness{};
  VUInt32 size = 0;
};

// What a scripted call does instead of the inner table: fail, or give a
// result (wait: 1 or 0; receive and send: the count).
struct Outcome {
  bool fails = false;
  platform::Failure failure{};
  std::int64_t value = 0;
};
Outcome Fails(VInt32 code, const wchar_t *szAt);
Outcome Gives(std::int64_t value);

// A table on the seam that records every call and forwards it to an inner
// table (the backend's, or one that succeeds without a platform), unless the
// test scripted the call's next outcome.
class FakePlatform {
 public:
  static FakePlatform &Get();
  // A table whose calls all succeed: open gives a made-up socket, waits
  // are ready, transfers move everything.
  static const platform::PlatformCalls &AlwaysSucceeds();

  void Install(const platform::PlatformCalls &inner);
  void Uninstall();

  void Script(const std::string &name, Outcome outcome) { scripts_[name].push_back(outcome); }
  std::vector<std::string> Names() const;
  std::vector<PlatformCall> CallsNamed(const std::string &name) const;

  // Runs after every receive, with the count it gave.
  std::function<void(std::int64_t)> afterReceive;
  // What addressToString writes when set, and the length it reports.
  std::wstring addressText;
  VUInt32 addressTextLength = 0;

  std::vector<PlatformCall> calls;
  const platform::PlatformCalls *inner = nullptr;

  // Pops the next scripted outcome for the call, if any.
  bool TakeScript(const std::string &name, Outcome *pOutcome);

 private:
  std::map<std::string, std::deque<Outcome>> scripts_;
};

// Addresses no other test process uses at the same time, so that parallel
// tests never share an abstract name.
VUInt64 UniqueDeviceAddress();
std::string AddressText(VUInt64 btAddr);

// A raw peer on the emulated link: listens on the abstract name of a device
// address and service class. A connect completes into the listen queue, so
// the test accepts after connecting, on its own thread.
class TestPeer {
 public:
  TestPeer(VUInt64 btAddr, const VUInt8 serviceClass[16]);
  ~TestPeer();
  TestPeer(const TestPeer &) = delete;
  TestPeer &operator=(const TestPeer &) = delete;

  // Accepts the next queued connection; the peer owns the descriptor.
  int Accept();
  void Write(int fd, const std::vector<VUInt8> &bytes);
  // Reads exactly count bytes (blocking).
  std::vector<VUInt8> Read(int fd, size_t count);
  // True when the connection has reached end of stream with nothing unread.
  bool AtEndOfStream(int fd);
  void Close(int fd);

 private:
  int listener_ = -1;
  std::vector<int> accepted_;
};

// Fixture base: primes the types so that their one-time registration does
// not count as a leak, and compares the host footprint at the end.
class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

 private:
  HostFootprint baseline_{};
};

}  // namespace vdm::test

#endif  // TESTS_BLUETOOTH_TEST_SUPPORT_H
