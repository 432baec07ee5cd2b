// Device creation, properties, removal and unplug, against scanner
// emulators on the emulated link.
#include <thread>

#include "device_fixture.h"

namespace vdm::test {
namespace {

using emu::Fault;

TEST_F(DeviceTest, ParametersAreTwoStringsWithDefaultsBuiltOnce) {
  HVParameterDescriptor *first = nullptr;
  HVParameterDescriptor *second = nullptr;
  VInt32 count = 0;
  ASSERT_EQ(Slots().pGetParameters(&first, &count), V_OK);
  ASSERT_EQ(count, 2);
  ASSERT_EQ(Slots().pGetParameters(&second, &count), V_OK);
  const std::pair<const wchar_t *, const wchar_t *> expected[] = {
      {L"DisplayName", L"TopLink Pacific Device"}, {L"BluetoothAddress", L"XX:XX:XX:XX:XX:XX"}};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(first[i], second[i]) << "built once";
    vfw::Handle name, type, stringType, value, text;
    ASSERT_EQ(VParameterDescriptorGetNameW(first[i], name.put()), V_OK);
    EXPECT_EQ(vfw::ToWString(name.get()), expected[i].first);
    ASSERT_EQ(VParameterDescriptorGetValueType(first[i], type.put()), V_OK);
    ASSERT_EQ(VStringTypeOf(stringType.put()), V_OK);
    EXPECT_EQ(type.get(), stringType.get());
    VUInt32 attributes = 0;
    ASSERT_EQ(VParameterDescriptorGetAttributes(first[i], &attributes), V_OK);
    EXPECT_EQ(attributes, 0x10000000u);
    ASSERT_EQ(VParameterDescriptorGetDefaultValue(first[i], value.put()), V_OK);
    ASSERT_EQ(VValueToString(value.get(), nullptr, 0, text.put()), V_OK);
    EXPECT_EQ(vfw::ToWString(text.get()), expected[i].second);
  }
  VObjectFreeArray(first, 2);
  VObjectFreeArray(second, 2);

  EXPECT_TRUE(
      HasLastError(Slots().pGetParameters(nullptr, &count), V_E_ARGUMENT_NULL, L"parhParameters is NULL"));
  EXPECT_TRUE(
      HasLastError(Slots().pGetParameters(&first, nullptr), V_E_ARGUMENT_NULL, L"pParameterCount is NULL"));
}

TEST_F(DeviceTest, CreatedDeviceReportsTheScannersIdentityAndNotifiesOnce) {
  emu::Options options;
  options.model = "BF-2000";
  options.serial = 0x00ABCDEF;
  emu::Emulator &scanner = StartScanner(options);
  int hostParam = 0;
  const std::string address = AddressOf(scanner);
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(L"Left hand", &address, &hDevice, &hostParam), V_OK);

  EXPECT_EQ(Property(Slots().pGetId, hDevice), L"TopLink Pacific BF-2000 00ABCDEF");
  EXPECT_EQ(Property(Slots().pGetDisplayName, hDevice), L"Left hand");
  EXPECT_EQ(Property(Slots().pGetMake, hDevice), L"TopLink Pacific");
  EXPECT_EQ(Property(Slots().pGetModel, hDevice), L"BF-2000");
  EXPECT_EQ(Property(Slots().pGetSerialNumber, hDevice), L"00ABCDEF");

  const auto events = module_->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, vfw::DeviceModule::Event::kAdded);
  EXPECT_EQ(events[0].device, hDevice);
  EXPECT_EQ(events[0].plugin, module_->Plugin());
  EXPECT_EQ(events[0].hostParam, &hostParam);

  // Echo and identity under the default key, the key switch answered under
  // it too, and status 0 under the new session key.
  const auto transcript = scanner.Transcript();
  ASSERT_EQ(Codes(transcript), (std::vector<std::uint8_t>{kEcho, kIdentity, kSetKey, kSetStatus}));
  EXPECT_EQ(transcript[2].key, emu::kDefaultKey);
  EXPECT_NE(transcript[3].key, emu::kDefaultKey);
  EXPECT_EQ(scanner.CurrentKey(), transcript[3].key);

  // Without a display name the device takes its default.
  EXPECT_EQ(Property(Slots().pGetDisplayName, CreateOn(StartScanner(), nullptr)), L"TopLink Pacific Device");
}

TEST_F(DeviceTest, BadParametersFailBeforeAnythingConnects) {
  emu::Emulator &scanner = StartScanner();
  const std::string address = AddressOf(scanner);
  HVDevice hDevice = nullptr;
  struct Case {
    const wchar_t *name;
    const std::string *address;
    VResult code;
    std::wstring callStack;
  } cases[] = {
      // clang-format off
      {L"Scanner", nullptr,  V_E_WIN32,    L"   at WSAStringToAddressW\r\n"},  // the "XX:..." default
      {L"",        nullptr,  V_E_WIN32,    L"   at WSAStringToAddressW\r\n"},  // address tested first
      {L"",        &address, V_E_ARGUMENT, L""},
      // clang-format on
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Create(c.name, c.address, &hDevice), c.code);
    const vfw::LastError error = vfw::GetLastError();
    EXPECT_EQ(error.callStack, c.callStack);
    if (c.code == V_E_ARGUMENT) {
      EXPECT_EQ(error.message, L"hName is NULL or an empty string");
    }
  }
  EXPECT_TRUE(scanner.Transcript().empty());
  EXPECT_TRUE(module_->Events().empty());
}

// Plug looks at the major version only.
TEST_F(DeviceTest, UnsupportedMajorVersionClosesTheOpenedScanner) {
  module_.reset();
  LoadAndPlug(0x0107);
  ASSERT_EQ(module_->Unplug(), V_OK);
  EXPECT_EQ(module_->Plug(0x0200), V_E_NOT_SUPPORTED_VERSION);
  EXPECT_EQ(vfw::GetLastError().code, V_E_NOT_SUPPORTED_VERSION);
  EXPECT_TRUE(vfw::GetLastError().message.empty());
  emu::Emulator &scanner = StartScanner();
  const std::string address = AddressOf(scanner);
  HVDevice hDevice = nullptr;
  EXPECT_EQ(Create(L"Scanner", &address, &hDevice), V_E_NOT_SUPPORTED_VERSION);
  EXPECT_EQ(hDevice, nullptr);
  EXPECT_TRUE(module_->Events().empty());
  // Opened, then closed again: the default key is back on the scanner.
  EXPECT_EQ(Codes(scanner.Transcript()).back(), kSetKey);
  EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);
}

// A scanner that does not complete the opening exchange fails the creation
// with a clear error instead of a device that looks created; a scanner that
// had already taken the session key gets its default key back.
TEST_F(DeviceTest, FailedOpeningExchangeFailsCreationAndRestoresTheKey) {
  const Fault faults[] = {
      Fault::PayloadLength(emu::On(emu::Command::kIdentity), 15),
      Fault::RefuseKey(emu::On(emu::Command::kSetKey)),
      Fault::WrongStatusEcho(emu::On(emu::Command::kSetStatus), 7),
  };
  for (const Fault &fault : faults) {
    SCOPED_TRACE(static_cast<int>(fault.kind));
    emu::Emulator &scanner = StartScanner();
    ASSERT_TRUE(scanner.InjectFault(fault));
    const std::string address = AddressOf(scanner);
    HVDevice hDevice = nullptr;
    VErrorClearLast();
    EXPECT_TRUE(HasLastError(Create(L"Scanner", &address, &hDevice), V_E_FAILED,
                             L"The scanner did not complete the opening exchange"));
    EXPECT_EQ(hDevice, nullptr);
    EXPECT_TRUE(module_->Events().empty());
    EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);
    // The scanner can be opened again.
    EXPECT_NE(CreateOn(scanner), nullptr);
    module_->ClearEvents();
  }
}

// A refused removal notification fails the removal and keeps the device
// usable; a removal goes on to notify, close and invalidate the handle.
TEST_F(DeviceTest, RemovalNotifiesClosesAndInvalidatesTheHandle) {
  emu::Emulator &scanner = StartScanner();
  const HVDevice hDevice = CreateOn(scanner);
  for (auto kind : {vfw::DeviceModule::Event::kRemoving, vfw::DeviceModule::Event::kRemoved}) {
    module_->FailCallback(kind, -55);
    EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), -55);
    module_->FailCallback(kind, V_OK);
    EXPECT_EQ(Property(Slots().pGetModel, hDevice), L"BF-2000");
  }
  EXPECT_NE(scanner.CurrentKey(), emu::kDefaultKey);
  module_->ClearEvents();
  int hostParam = 0;
  ASSERT_EQ(Slots().pRemoveDevice(hDevice, &hostParam), V_OK);
  const auto events = module_->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, vfw::DeviceModule::Event::kRemoving);
  EXPECT_EQ(events[1].kind, vfw::DeviceModule::Event::kRemoved);
  for (const auto &event : events) {
    EXPECT_EQ(event.device, hDevice);
    EXPECT_EQ(event.hostParam, &hostParam);
  }
  EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);
  HVString hValue = nullptr;
  EXPECT_TRUE(
      HasLastError(Slots().pGetId(hDevice, &hValue), V_E_ARGUMENT, L"VdmBlueFin device handle is invalid"));
  EXPECT_TRUE(HasLastError(Slots().pRemoveDevice(hDevice, nullptr), V_E_ARGUMENT,
                           L"VdmBlueFin device handle is invalid"));
}

TEST_F(DeviceTest, RefusedAddedNotificationIsReturnedAndUnplugStillClosesTheDevice) {
  emu::Emulator &scanner = StartScanner();
  module_->FailCallback(vfw::DeviceModule::Event::kAdded, -56);
  const std::string address = AddressOf(scanner);
  HVDevice hDevice = nullptr;
  EXPECT_EQ(Create(L"Scanner", &address, &hDevice), -56);
  EXPECT_EQ(hDevice, nullptr);
  ASSERT_EQ(module_->Unplug(), V_OK);
  EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);
}

// Unplug closes the devices from the last to the first. A scanner that no
// longer answers cannot be given its key back, but its record is freed and
// the other devices are closed all the same; the unplug, like a removal,
// has done what it is for and succeeds.
TEST_F(DeviceTest, UnplugClosesFromTheLastDeviceToTheFirst) {
  std::vector<emu::Emulator *> scanners;
  std::vector<HVDevice> devices;
  for (int i = 0; i < 5; ++i) {
    scanners.push_back(&StartScanner());
    devices.push_back(CreateOn(*scanners.back()));
  }
  scanners[2]->Stop();  // out of range
  EXPECT_EQ(Slots().pRemoveDevice(devices[2], nullptr), V_OK);
  scanners[4]->Stop();
  EXPECT_EQ(module_->Unplug(), V_OK);
  std::vector<std::chrono::steady_clock::time_point> restored;
  for (int i : {0, 1, 3}) {
    EXPECT_EQ(scanners[i]->CurrentKey(), emu::kDefaultKey);
    const auto transcript = scanners[i]->Transcript();
    ASSERT_EQ(transcript.back().code, kSetKey);
    restored.push_back(transcript.back().time);
  }
  EXPECT_GT(restored[0], restored[1]);
  EXPECT_GT(restored[1], restored[2]);
  HVString hValue = nullptr;
  EXPECT_TRUE(
      HasLastError(Slots().pGetId(devices[0], &hValue), V_E_INVALID_OPERATION, L"VdmBlueFin is not plugged"));
  // TearDown checks that nothing of the five records is left.
}

// A creation that opened its scanner while the host unplugged the module
// must not add a record that nobody would ever close.
TEST_F(DeviceTest, CreationThatOutlivesThePlugClosesItsRecord) {
  std::mutex mutex;
  std::condition_variable changed;
  bool statusArrived = false;
  bool unplugged = false;
  emu::Options options;
  options.shaping.latency = std::chrono::microseconds(1);
  emu::Emulator *scanner = nullptr;
  options.shaping.sleepUntil = [&](std::chrono::steady_clock::time_point) {
    // Hold the answer to the opening exchange's status command until the
    // module has been unplugged.
    if (scanner && !scanner->Transcript().empty() && scanner->Transcript().back().code == kSetStatus) {
      std::unique_lock lock(mutex);
      statusArrived = true;
      changed.notify_all();
      changed.wait(lock, [&] { return unplugged; });
    }
    return true;
  };
  scanner = &StartScanner(options);
  const std::string address = AddressOf(*scanner);
  HVDevice hDevice = nullptr;
  VResult created = V_OK;
  std::thread creator([&] { created = Create(L"Scanner", &address, &hDevice); });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return statusArrived; });
  }
  EXPECT_EQ(module_->Unplug(), V_OK);
  {
    std::lock_guard lock(mutex);
    unplugged = true;
  }
  changed.notify_all();
  creator.join();
  EXPECT_EQ(created, V_E_INVALID_OPERATION);
  EXPECT_EQ(hDevice, nullptr);
  EXPECT_TRUE(module_->Events().empty());
  EXPECT_EQ(scanner->CurrentKey(), emu::kDefaultKey);
}

}  // namespace
}  // namespace vdm::test
