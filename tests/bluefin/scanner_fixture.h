// The protocol layer against the scanner emulator on the emulated link, the
// platform seam's calls recorded and the host's footprint checked around each test.
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

class ScannerTest : public vdm::test::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    Seam().Install(platform::PlatformDefault());
    emu::Options options;
    options.image = emu::Image(256 * 360, 128);  // spares drawing a finger nobody looks at
    Start(options);
  }
  void TearDown() override {
    Close();
    emulator.reset();
    TransportTest::TearDown();
  }

  // (Re)starts the emulator on a fresh address.
  void Start(emu::Options options = {}) {
    emulator.reset();
    options.address = address = vdm::test::UniqueAddress();
    emulator = std::make_unique<emu::Emulator>(options);
    std::string error;
    ASSERT_TRUE(emulator->Start(&error)) << error;
  }
  VResult Open() { return BlueFinCreate(vdm::test::MakeDevice(address).get(), &device); }
  void OpenSecure() {
    ASSERT_EQ(Open(), V_OK);
    ASSERT_EQ(BlueFinSetKey(device, kSessionKey.data(), 32), V_OK);
  }
  void Close() { EXPECT_EQ(VObjectSet(nullptr, &device), V_OK); }
  void Inject(const std::vector<Fault> &faults) {
    for (const Fault &fault : faults)
      ASSERT_TRUE(emulator->InjectFault(fault));
  }
  // The codes of the commands the scanner received, in order.
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const emu::TranscriptEntry &entry : emulator->Transcript())
      codes.push_back(entry.code);
    return codes;
  }
  // The key the device's frames go under, as the scanner read an identity
  // query: only a device on the scanner's key gets the answer.
  Key KeyOfNextCommand() {
    EXPECT_EQ(BlueFinGetDeviceInfo(device, nullptr, nullptr, nullptr, nullptr, nullptr), V_OK);
    const std::vector<emu::TranscriptEntry> transcript = emulator->Transcript();
    if (transcript.empty() || transcript.back().code != emu::Code(emu::Command::kIdentity)) {
      ADD_FAILURE() << "the scanner did not read the identity query";
      return {};
    }
    return transcript.back().key;
  }
  // Whether the device is in secure mode: a status query goes out, or is
  // refused before anything is sent.
  bool IsSecure() {
    const std::size_t before = emulator->Transcript().size();
    const VResult result = BlueFinGetStatus(device, nullptr, nullptr, nullptr, nullptr);
    if (result == V_E_INVALID_OPERATION) {
      EXPECT_EQ(emulator->Transcript().size(), before) << "a refused status query was sent";
      return false;
    }
    EXPECT_EQ(result, V_OK);
    return true;
  }
  // What the seam's calls of one kind moved, each call's bytes.
  std::vector<Bytes> Moved(const std::string &call) const {
    std::vector<Bytes> moved;
    for (const vdm::test::PlatformCall &made : vdm::test::FakePlatform::Get().CallsNamed(call))
      moved.push_back(made.bytes);
    return moved;
  }

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
