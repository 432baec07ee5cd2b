#include "scanner_fixture.h"

namespace vdm::bluefin::test {

void ScannerTest::SetUp() {
  TransportTest::SetUp();
  Seam().Install(platform::PlatformDefault());
  // A flat image spares drawing a synthetic finger nobody looks at.
  emu::Options options;
  options.image = emu::Image(256 * 360, 128);
  Start(options);
}

void ScannerTest::TearDown() {
  Close();
  emulator.reset();
  TransportTest::TearDown();
}

void ScannerTest::Start(emu::Options options) {
  emulator.reset();
  options.address = address = vdm::test::UniqueAddress();
  emulator = std::make_unique<emu::Emulator>(options);
  std::string error;
  ASSERT_TRUE(emulator->Start(&error)) << error;
}

VResult ScannerTest::Open() {
  const vfw::Handle name = vfw::MakeString(L"Scanner");
  const vfw::Handle text = vfw::MakeString(std::wstring(address.begin(), address.end()).c_str());
  vfw::Handle bluetoothDevice;
  const VResult result = VBluetoothDeviceCreateFromString(name.get(), text.get(), bluetoothDevice.put());
  return VFailed(result) ? result : BlueFinCreate(bluetoothDevice.get(), &device);
}

void ScannerTest::OpenSecure() {
  ASSERT_EQ(Open(), V_OK);
  ASSERT_EQ(BlueFinSetKey(device, kSessionKey.data(), 32), V_OK);
}

void ScannerTest::Inject(const std::vector<Fault> &faults) {
  for (const Fault &fault : faults)
    ASSERT_TRUE(emulator->InjectFault(fault));
}

std::vector<int> ScannerTest::Codes() const {
  std::vector<int> codes;
  for (const emu::TranscriptEntry &entry : emulator->Transcript())
    codes.push_back(entry.code);
  return codes;
}

Key ScannerTest::KeyOfNextCommand() {
  EXPECT_EQ(BlueFinGetDeviceInfo(device, nullptr, nullptr, nullptr, nullptr, nullptr), V_OK);
  const std::vector<emu::TranscriptEntry> transcript = emulator->Transcript();
  if (transcript.empty() || transcript.back().code != emu::Code(emu::Command::kIdentity)) {
    ADD_FAILURE() << "the scanner did not read the identity query";
    return {};
  }
  return transcript.back().key;
}

bool ScannerTest::IsSecure() {
  const std::size_t before = emulator->Transcript().size();
  const VResult result = BlueFinGetStatus(device, nullptr, nullptr, nullptr, nullptr);
  if (result == V_E_INVALID_OPERATION) {
    EXPECT_EQ(emulator->Transcript().size(), before) << "a refused status query was sent";
    return false;
  }
  EXPECT_EQ(result, V_OK);
  return true;
}

std::vector<Bytes> ScannerTest::Moved(const std::string &call) const {
  std::vector<Bytes> moved;
  for (const vdm::test::PlatformCall &made : vdm::test::FakePlatform::Get().CallsNamed(call))
    moved.push_back(made.bytes);
  return moved;
}

}  // namespace vdm::bluefin::test
