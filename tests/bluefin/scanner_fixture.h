// A BlueFinDevice opened over the emulated link on a scripted peer, with the
// host's leak counters compared before and after each test.
#ifndef TESTS_BLUEFIN_SCANNER_FIXTURE_H
#define TESTS_BLUEFIN_SCANNER_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "bluefin/bluefin.h"
#include "framework/v_test_controls.h"
#include "scripted_peer.h"

namespace bluefin_test {

// The result and the thread's last error agree on code, message and
// parameter name.
::testing::AssertionResult Fails(VResult result, VResult code, const std::wstring &message,
                                 const std::wstring &parameter = L"");

// A key the tests switch to.
Key TestKey(std::uint8_t seed);

class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // BlueFinCreate on the peer; the peer's script must answer the echo.
  VResult Open() { return OpenAt(peer.address()); }
  VResult OpenAt(const std::string &addressText);
  // Open, then switch to TestKey(1); the script must answer both.
  void OpenSecure();
  void Close() { EXPECT_EQ(VObjectSet(nullptr, &device), V_OK); }
  BlueFinDevice *record() const { return reinterpret_cast<BlueFinDevice *>(device); }

  ScriptedPeer peer;
  HVBlueFin device = nullptr;

 private:
  VInt64 objects_ = 0;
  VInt64 allocations_ = 0;
};

}  // namespace bluefin_test

#endif  // TESTS_BLUEFIN_SCANNER_FIXTURE_H
