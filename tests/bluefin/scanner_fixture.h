// The protocol layer driven against the scanner emulator on the emulated
// link, with what crosses the platform seam recorded and the host's leak
// counters compared before and after each test.
#ifndef TESTS_BLUEFIN_SCANNER_FIXTURE_H
#define TESTS_BLUEFIN_SCANNER_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bluefin/bluefin.h"
#include "bluetooth/platform/platform.h"
#include "emulator/emulator.h"
#include "tests/emulator/unique_address.h"

namespace vdm::bluefin::test {

namespace emu = ::bluefin::emu;
using Bytes = std::vector<std::uint8_t>;
using emu::Command;
using emu::Fault;
using emu::kDefaultKey;
using emu::Key;
using emu::On;
using vdm::platform::Readiness;

// The result and the thread's last error agree on code, message and
// parameter name.
::testing::AssertionResult Fails(VResult result, VResult code, const std::wstring &message,
                                 const std::wstring &parameter = L"");

using emu::test::UniqueAddress;

// BlueFinCreate on the scanner at the address.
VResult OpenScanner(const std::string &address, HVBlueFin *phBlueFin);

// Stands between the transport and the platform while it lives: records
// every frame sent, the bytes received, each wait's limit and each draw from
// the random source, and can make read waits time out at once and the key
// draw fail.
class SeamRecorder {
 public:
  SeamRecorder();
  ~SeamRecorder();
  static inline std::vector<Bytes> sent;
  static inline std::size_t received = 0;
  static inline std::vector<std::pair<Readiness, VUInt32>> waits;
  static inline std::vector<Bytes> draws;
  static inline bool readsTimeOut = false;
  static inline bool drawFails = false;

 private:
  vdm::platform::PlatformCalls calls_;
};

class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // (Re)starts the emulator on a fresh address.
  void Start(emu::Options options = {});
  VResult Open() { return OpenScanner(options_.address, &device); }
  const std::string &address() const { return options_.address; }
  // Open, then switch to kSessionKey.
  void OpenSecure();
  void Close() { EXPECT_EQ(VObjectSet(nullptr, &device), V_OK); }
  void Inject(const std::vector<Fault> &faults);
  // The codes of the commands the scanner received, in order.
  std::vector<int> Codes() const;
  // The key the device's frames go under, as the scanner saw it: an
  // identity query goes out, and the transcript tells the key the scanner
  // read it under. Only a device on the scanner's key gets the answer.
  Key KeyOfNextCommand();
  // Whether the device is in secure mode: a status query goes out, or is
  // refused before anything is sent.
  bool IsSecure();

  static inline const Key kSessionKey = [] {
    Key key;
    for (std::size_t i = 0; i < key.size(); ++i)
      key[i] = static_cast<std::uint8_t>(0xA0 + 7 * i);
    return key;
  }();

  SeamRecorder seam;
  std::unique_ptr<emu::Emulator> emulator;
  HVBlueFin device = nullptr;

 private:
  emu::Options options_;
  VInt64 objects_ = 0;
  VInt64 allocations_ = 0;
};

}  // namespace vdm::bluefin::test

#endif  // TESTS_BLUEFIN_SCANNER_FIXTURE_H
