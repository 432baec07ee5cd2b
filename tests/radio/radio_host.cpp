#include "tests/radio/radio_host.h"

#include <ostream>

namespace vdm::radio::test {

using vdm::test::CaptureRun;

std::ostream &operator<<(std::ostream &out, const PlatformError &error) {
  return out << "{code " << error.code << ", platform code " << error.platformCode << ", \""
             << vfw::ToUtf8(error.callStack) << "\"}";
}

PlatformError LastPlatformError() {
  const vfw::LastError error = vfw::GetLastError();
  return {error.code, error.platformCode, error.callStack};
}

void RadioHost::SetUp() {
  ModuleTest::SetUp();
  VTestSetSleepHook(vdm::test::detail::OnSleep, nullptr);
}

void RadioHost::LoadAndPlug(const std::function<void()> &prepare) {
  ASSERT_EQ(vfw::DeviceModule::Load(VDM_RADIO_MODULE_PATH, vdm::test::kModuleOf, &module_), V_OK)
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

void RadioHost::ExpectCancelEndsTheCapture(const std::string &address) {
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(address, &hDevice), V_OK) << LastPlatformError();
  CaptureRun run = Capture(hDevice, {vdm::test::StopKind::kCancel, vdm::test::ReportKind::kPoll, 2});
  run.Collect();
  EXPECT_EQ(run.result, V_OK) << LastPlatformError();
  EXPECT_EQ(run.stopResult, V_OK);
  EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_CANCELED);
  EXPECT_FALSE(run.image.has_value());
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
  CaptureRun run = Capture(hDevice);
  run.Collect();
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
  int parts = 0;
  CaptureRun run = Capture(hDevice, {}, nullptr, [&](VBiometricStatus *, HVImage part) {
    if (part != nullptr && ++parts == 3) {
      reset();
    }
    return V_OK;
  });
  run.Collect();
  EXPECT_EQ(run.result, V_E_WIN32);
  EXPECT_EQ(LastPlatformError(), (PlatformError{V_E_WIN32, error, at}));
  EXPECT_EQ(run.parts, 3);
  EXPECT_FALSE(run.image.has_value());
  EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
}

}  // namespace vdm::radio::test
