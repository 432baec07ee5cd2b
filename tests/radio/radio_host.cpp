#include "tests/radio/radio_host.h"

#include <v_media.h>

#include <ostream>

#include "tests/emulator/unique_address.h"

namespace vdm::radio::test {
namespace {

namespace emu = bluefin::emu;

constexpr char kModuleOf[] = "VdmBlueFinModuleOf";
constexpr std::size_t kImagePixels = 256 * 360;

// The capture's parameter: told whether a report brought an image part.
using Counter = std::function<void(bool part)>;

VResult V_CALL OnCaptureReport(HVDevice, HVObject, HVImage *arhImages, VInt32, VBiometricStatus *,
                               void *pParam) {
  (*static_cast<Counter *>(pParam))(arhImages[0] != nullptr);
  return V_OK;
}

void V_CALL SkipSleep(VInt32, void *) {}

}  // namespace

std::ostream &operator<<(std::ostream &out, const PlatformError &error) {
  return out << "{code " << error.code << ", platform code " << error.platformCode << ", \""
             << vfw::ToUtf8(error.callStack) << "\"}";
}

PlatformError LastPlatformError() {
  const vfw::LastError error = vfw::GetLastError();
  return {error.code, error.platformCode, error.callStack};
}

void RadioHost::SetUp() {
  VTestClearFailures();
  VTestSetSleepHook(SkipSleep, nullptr);
  baseline_ = HostFootprint{};
}

void RadioHost::TearDown() {
  captureObject_.reset();
  module_.reset();
  scanners_.clear();
  VTestSetSleepHook(nullptr, nullptr);
  EXPECT_TRUE(HostFootprint{} == baseline_) << "the module left host objects behind";
}

void RadioHost::LoadAndPlug(const std::function<void()> &prepare) {
  ASSERT_EQ(vfw::DeviceModule::Load(VDM_RADIO_MODULE_PATH, kModuleOf, &module_), V_OK)
      << vfw::ToUtf8(vfw::GetLastError().message);
  if (prepare) {
    prepare();
  }
  ASSERT_EQ(module_->Init(), V_OK);
  ASSERT_EQ(module_->Plug(), V_OK);
  ASSERT_EQ(VPropertyBagCreate(captureObject_.put()), V_OK);
}

emu::Emulator &RadioHost::StartScanner(emu::Options options) {
  options.address = emu::test::UniqueAddress();
  emu::Emulator &scanner = scanners_.emplace_back(options);
  std::string error;
  EXPECT_TRUE(scanner.Start(&error)) << error;
  return scanner;
}

// The listen name holds the address after its 8-character prefix.
std::string RadioHost::AddressOf(const emu::Emulator &scanner) {
  return scanner.ListenName().substr(8, 17);
}

VResult RadioHost::Create(const std::string &address, HVDevice *phDevice, const wchar_t *displayName) {
  vfw::Handle bag;
  EXPECT_EQ(VPropertyBagCreate(bag.put()), V_OK);
  const std::wstring wide(address.begin(), address.end());
  EXPECT_EQ(VPropertyBagSetStringW(bag.get(), L"BluetoothAddress", wide.c_str()), V_OK);
  EXPECT_EQ(VPropertyBagSetStringW(bag.get(), L"DisplayName", displayName), V_OK);
  return Slots().pCreateDevice(bag.get(), phDevice, nullptr);
}

std::wstring RadioHost::Property(VDeviceManagerGetStringProc slot, HVDevice hDevice) {
  vfw::Handle value;
  EXPECT_EQ(slot(hDevice, value.put()), V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
  return vfw::ToWString(value.get());
}

CaptureRun RadioHost::Capture(HVDevice hDevice, OnReport onReport) {
  CaptureRun run;
  Counter count = [&](bool part) {
    ++(part ? run.parts : run.polls);
    if (onReport) {
      onReport(run);
    }
  };
  captureParam_ = &count;
  HVImage images[1] = {};
  VInt32 imageCount = 0;
  run.result =
      Slots().pCapture(hDevice, captureObject_.get(), nullptr, nullptr, nullptr, nullptr, V_TRUE, nullptr,
                       nullptr, nullptr, images, 1, &imageCount, &run.status, OnCaptureReport, &count);
  captureParam_ = nullptr;
  if (stopper_.joinable()) {
    stopper_.join();
    EXPECT_EQ(stopResult_, V_OK);
  }
  if (VSucceeded(run.result) && images[0] != nullptr) {
    void *pixels = nullptr;
    EXPECT_EQ(VImageGetPixelsPtr(images[0], &pixels), V_OK);
    const auto *bytes = static_cast<const std::uint8_t *>(pixels);
    run.image.assign(bytes, bytes + kImagePixels);
    VObjectUnref(images[0]);
  }
  return run;
}

void RadioHost::ExpectCancelEndsTheCapture(const std::string &address) {
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(address, &hDevice), V_OK) << LastPlatformError();
  const CaptureRun run = Capture(hDevice, [&](const CaptureRun &sofar) {
    if (sofar.polls == 2 && !stopper_.joinable()) {
      stopper_ = std::thread(
          [this, hDevice, param = captureParam_] { stopResult_ = Slots().pCancel(hDevice, param); });
    }
  });
  EXPECT_EQ(run.result, V_OK) << LastPlatformError();
  EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_CANCELED);
  EXPECT_TRUE(run.image.empty());
  EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
}

void RadioHost::ExpectTheWholeLife(emu::Emulator &scanner) {
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(AddressOf(scanner), &hDevice, L"Radio scanner"), V_OK) << LastPlatformError();
  EXPECT_EQ(Property(Slots().pGetId, hDevice), L"TopLink Pacific BF-2000 0BF12345");
  EXPECT_EQ(Property(Slots().pGetDisplayName, hDevice), L"Radio scanner");
  EXPECT_EQ(Property(Slots().pGetMake, hDevice), L"TopLink Pacific");
  EXPECT_EQ(Property(Slots().pGetModel, hDevice), L"BF-2000");
  EXPECT_EQ(Property(Slots().pGetSerialNumber, hDevice), L"0BF12345");
  const CaptureRun run = Capture(hDevice);
  ASSERT_EQ(run.result, V_OK) << LastPlatformError();
  EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_OK);
  EXPECT_EQ(run.parts, 12);
  EXPECT_TRUE(run.image == scanner.ExpectedImage()) << "the image is not the scanner's";
  EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
  EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);

  ASSERT_EQ(Create(AddressOf(scanner), &hDevice), V_OK) << LastPlatformError();
  scanner.ClearTranscript();
  EXPECT_EQ(module_->Unplug(), V_OK);
  EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);
  EXPECT_EQ(scanner.Transcript().size(), 1u) << "unplug did not restore the key alone";
}

void RadioHost::ExpectCreationsFail(const std::vector<Refusal> &refusals) {
  for (const auto &[what, address, error, at] : refusals) {
    SCOPED_TRACE(what);
    HVDevice hDevice = nullptr;
    EXPECT_EQ(Create(address, &hDevice), V_E_WIN32);
    EXPECT_EQ(LastPlatformError(), (PlatformError{V_E_WIN32, error, at}));
    EXPECT_EQ(hDevice, nullptr);
  }
  EXPECT_TRUE(module_->Events().empty()) << "a failed creation told the host of a device";
}

void RadioHost::ExpectAResetFailsTheCapture(const std::string &address, const std::function<void()> &reset,
                                            VInt32 error, const wchar_t *at) {
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(address, &hDevice), V_OK) << LastPlatformError();
  const CaptureRun run = Capture(hDevice, [&](const CaptureRun &sofar) {
    if (sofar.parts == 3) {
      reset();
    }
  });
  EXPECT_EQ(run.result, V_E_WIN32);
  EXPECT_EQ(LastPlatformError(), (PlatformError{V_E_WIN32, error, at}));
  EXPECT_EQ(run.parts, 3);
  EXPECT_TRUE(run.image.empty());
  EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
}

}  // namespace vdm::radio::test
