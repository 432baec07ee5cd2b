#include "tests/radio/radio_host.h"

#include <v_media.h>

#include <ostream>

namespace vdm::radio::test {
namespace {

constexpr char kModuleOf[] = "VdmBlueFinModuleOf";
constexpr std::size_t kImagePixels = 256 * 360;

struct CaptureContext {
  CaptureRun *run;
  OnReport *onReport;
};

VResult V_CALL OnCaptureReport(HVDevice, HVObject, HVImage *arhImages, VInt32, VBiometricStatus *,
                               void *pParam) {
  auto *context = static_cast<CaptureContext *>(pParam);
  ++(arhImages[0] != nullptr ? context->run->parts : context->run->polls);
  if (*context->onReport) {
    (*context->onReport)(*context->run);
  }
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
  CaptureContext context{&run, &onReport};
  captureParam_ = &context;
  HVImage images[1] = {};
  VInt32 imageCount = 0;
  run.result =
      Slots().pCapture(hDevice, captureObject_.get(), nullptr, nullptr, nullptr, nullptr, V_TRUE, nullptr,
                       nullptr, nullptr, images, 1, &imageCount, &run.status, OnCaptureReport, &context);
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

void RadioHost::CancelFromAnotherThread(HVDevice hDevice) {
  if (!stopper_.joinable()) {
    stopper_ = std::thread(
        [this, hDevice, param = captureParam_] { stopResult_ = Slots().pCancel(hDevice, param); });
  }
}

void RadioHost::ExpectCancelEndsTheCapture(HVDevice hDevice) {
  const CaptureRun run = Capture(hDevice, [&](const CaptureRun &sofar) {
    if (sofar.polls == 2) {
      CancelFromAnotherThread(hDevice);
    }
  });
  EXPECT_EQ(run.result, V_OK) << LastPlatformError();
  EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_CANCELED);
  EXPECT_TRUE(run.image.empty());
  EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
}

}  // namespace vdm::radio::test
