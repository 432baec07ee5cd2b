#include "scanner_fixture.h"

#include "framework/v_support.h"
#include "framework/v_test_controls.h"

namespace vdm::bluefin::test {

using namespace vdm::platform;

::testing::AssertionResult Fails(VResult result, VResult code, const std::wstring &message,
                                 const std::wstring &parameter) {
  const vfw::LastError error = vfw::GetLastError();
  if (result == code && error.code == code && error.message == message && error.parameterName == parameter) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "result " << result << ", last error " << error.code << " \"" << vfw::ToUtf8(error.message)
         << "\" (" << vfw::ToUtf8(error.parameterName) << "); expected " << code << " \""
         << vfw::ToUtf8(message) << "\"";
}

VResult OpenScanner(const std::string &address, HVBlueFin *phBlueFin) {
  const vfw::Handle name = vfw::MakeString(L"Scanner");
  const vfw::Handle text = vfw::MakeString(std::wstring(address.begin(), address.end()).c_str());
  vfw::Handle bluetoothDevice;
  const VResult result = VBluetoothDeviceCreateFromString(name.get(), text.get(), bluetoothDevice.put());
  return VFailed(result) ? result : BlueFinCreate(bluetoothDevice.get(), phBlueFin);
}

SeamRecorder::SeamRecorder() : calls_(PlatformDefault()) {
  sent.clear();
  waits.clear();
  draws.clear();
  received = 0;
  readsTimeOut = drawFails = false;
  calls_.send = [](SocketHandle socket, const void *pBuffer, VUInt32 size, Failure *pFailure) {
    const auto *bytes = static_cast<const std::uint8_t *>(pBuffer);
    sent.emplace_back(bytes, bytes + size);
    return PlatformDefault().send(socket, pBuffer, size, pFailure);
  };
  calls_.receive = [](SocketHandle socket, void *pBuffer, VUInt32 size, Failure *pFailure) {
    const std::int64_t count = PlatformDefault().receive(socket, pBuffer, size, pFailure);
    received += count > 0 ? static_cast<std::size_t>(count) : 0;
    return count;
  };
  calls_.wait = [](SocketHandle socket, Readiness readiness, WaitLimit limit, Failure *pFailure) {
    waits.emplace_back(readiness, limit.seconds * 1000 + limit.microseconds / 1000);
    if (readiness == Readiness::kReadable && readsTimeOut)
      return 0;
    return PlatformDefault().wait(socket, readiness, limit, pFailure);
  };
  calls_.secureRandom = [](VUInt8 *pBuffer, VUInt32 size, Failure *pFailure) {
    if (drawFails) {
      *pFailure = {5, L"   at getrandom\r\n"};
      return false;
    }
    const bool drawn = PlatformDefault().secureRandom(pBuffer, size, pFailure);
    draws.emplace_back(pBuffer, pBuffer + size);
    return drawn;
  };
  SetPlatformCalls(&calls_);
}

SeamRecorder::~SeamRecorder() {
  SetPlatformCalls(nullptr);
}

void ScannerTest::SetUp() {
  objects_ = VTestGetLiveObjectCount();
  allocations_ = VTestGetOutstandingAllocationCount();
  // A flat image spares drawing a synthetic finger nobody looks at.
  emu::Options options;
  options.image = emu::Image(256 * 360, 128);
  Start(options);
}

void ScannerTest::TearDown() {
  Close();
  emulator.reset();
  EXPECT_EQ(VTestGetLiveObjectCount(), objects_) << "host objects left behind";
  EXPECT_EQ(VTestGetOutstandingAllocationCount(), allocations_) << "host memory left behind";
}

void ScannerTest::Start(emu::Options options) {
  emulator.reset();
  options_ = std::move(options);
  options_.address = UniqueAddress();
  emulator = std::make_unique<emu::Emulator>(options_);
  std::string error;
  ASSERT_TRUE(emulator->Start(&error)) << error;
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
  for (const emu::TranscriptEntry &entry : emulator->Transcript()) {
    codes.push_back(entry.code);
  }
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

}  // namespace vdm::bluefin::test
