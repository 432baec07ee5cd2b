// The protocol layer driven against the scanner emulator on the emulated
// link, with what crosses the platform seam recorded and the host's
// footprint compared before and after each test.
#ifndef TESTS_BLUEFIN_SCANNER_FIXTURE_H
#define TESTS_BLUEFIN_SCANNER_FIXTURE_H

#include <memory>
#include <string>
#include <vector>

#include "bluefin/bluefin.h"
#include "emulator/emulator.h"
#include "tests/bluetooth/test_support.h"

namespace vdm::bluefin::test {

namespace emu = ::bluefin::emu;
using Bytes = std::vector<std::uint8_t>;
using emu::Command;
using emu::Fault;
using emu::kDefaultKey;
using emu::Key;
using emu::On;
using vdm::platform::Readiness;
using vdm::test::Fails;
using vdm::test::Gave;
using vdm::test::Gives;

class ScannerTest : public vdm::test::TransportTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // (Re)starts the emulator on a fresh address.
  void Start(emu::Options options = {});
  // BlueFinCreate on the scanner.
  VResult Open();
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
  // What the seam's calls of one kind moved, each call's bytes.
  std::vector<Bytes> Moved(const std::string &call) const;

  static inline const Key kSessionKey = [] {
    Key key;
    for (std::size_t i = 0; i < key.size(); ++i)
      key[i] = static_cast<std::uint8_t>(0xA0 + 7 * i);
    return key;
  }();

  std::unique_ptr<emu::Emulator> emulator;
  HVBlueFin device = nullptr;
  std::string address;
};

}  // namespace vdm::bluefin::test

#endif  // TESTS_BLUEFIN_SCANNER_FIXTURE_H
