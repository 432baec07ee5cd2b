#include "device_fixture.h"

namespace vdm::test {

std::vector<std::uint8_t> Codes(const std::vector<emu::TranscriptEntry> &transcript) {
  std::vector<std::uint8_t> codes;
  for (const auto &entry : transcript) {
    codes.push_back(entry.code);
  }
  return codes;
}

void DeviceTest::SetUp() {
  ModuleTest::SetUp();
  VTestSetSleepHook(RecordSleep, this);
  LoadAndPlug();
}

void DeviceTest::TearDown() {
  // Unplugging gives every scanner its default key back, so the scanners
  // go after the module.
  module_.reset();
  scanners_.clear();
  VTestSetSleepHook(nullptr, nullptr);
  ModuleTest::TearDown();
}

std::string DeviceTest::NewAddress() {
  static std::atomic<unsigned> next{0};
  const unsigned pid = static_cast<unsigned>(getpid());
  char text[18];
  std::snprintf(text, sizeof(text), "02:%02X:%02X:%02X:%02X:%02X", (pid >> 24) & 0xFF, (pid >> 16) & 0xFF,
                (pid >> 8) & 0xFF, pid & 0xFF, next++ & 0xFF);
  return text;
}

emu::Emulator &DeviceTest::StartScanner(emu::Options options) {
  options.address = NewAddress();
  auto &scanner = scanners_.emplace_back(options);
  std::string error;
  EXPECT_TRUE(scanner.Start(&error)) << error;
  addresses_.push_back(options.address);
  return scanner;
}

VResult DeviceTest::Create(const wchar_t *displayName, const std::string *address, HVDevice *phDevice,
                           void *hostParam) {
  vfw::Handle bag;
  EXPECT_EQ(VPropertyBagCreate(bag.put()), V_OK);
  if (displayName) {
    EXPECT_EQ(VPropertyBagSetStringW(bag.get(), L"DisplayName", displayName), V_OK);
  }
  if (address) {
    const std::wstring wide(address->begin(), address->end());
    EXPECT_EQ(VPropertyBagSetStringW(bag.get(), L"BluetoothAddress", wide.c_str()), V_OK);
  }
  return Slots().pCreateDevice(bag.get(), phDevice, hostParam);
}

HVDevice DeviceTest::CreateOn(const emu::Emulator &scanner, const wchar_t *displayName) {
  const std::string name = scanner.ListenName();
  const std::string address = name.substr(name.find('/') + 1, 17);
  HVDevice hDevice = nullptr;
  const VResult result = Create(displayName, &address, &hDevice);
  EXPECT_EQ(result, V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
  return hDevice;
}

std::wstring DeviceTest::Property(VDeviceManagerGetStringProc slot, HVDevice hDevice) {
  vfw::Handle value;
  const VResult result = slot(hDevice, value.put());
  EXPECT_EQ(result, V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
  return vfw::ToWString(value.get());
}

std::vector<VInt32> DeviceTest::Sleeps() {
  std::lock_guard lock(sleepsMutex_);
  return sleeps_;
}

void V_CALL DeviceTest::RecordSleep(VInt32 milliseconds, void *context) {
  auto *self = static_cast<DeviceTest *>(context);
  std::lock_guard lock(self->sleepsMutex_);
  self->sleeps_.push_back(milliseconds);
}

}  // namespace vdm::test
