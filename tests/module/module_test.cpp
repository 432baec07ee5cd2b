// The module as a host sees it: registration, plug and the interface table;
// devices on scanner emulators: parameters, creation and the host's
// notifications, removal, and captures from arming to disarming. Stops from
// other threads are the host calls', sessions' and stop races' to test.
#include <array>
#include <functional>
#include <set>

#include "device_fixture.h"

namespace vdm::test {
namespace {

using Kind = vfw::DeviceModule::Event::Kind;

std::wstring ModuleText(HVModule hModule, VModuleText which) {
  vfw::Handle text;
  EXPECT_EQ(VModuleGetTextW(hModule, which, text.put()), V_OK);
  return vfw::ToWString(text.get());
}

// Whether a plug-in serves an interface version, read from its range as a
// host reads it: the lowest version in the high half, the highest in the low.
bool Serves(const VPluginInterfaceVersion &served, VUInt32 version) {
  return served.versionRange >> 16 <= version && version <= (served.versionRange & 0xFFFF);
}

// What a host keys on when it looks for a device manager among the modules
// it loads: the module's name, id and version, the plug-in's name, the
// interface it serves, for which versions and in which slots, and the
// modules that must be loaded before it. The descriptive texts (title,
// company and so on) are only ever shown to people. A second module-of
// gives the same module and registers nothing.
TEST_F(ModuleTest, AHostFindsTheDeviceManagerItPlugs) {
  ASSERT_EQ(Load(), V_OK);
  const HVModule hModule = module_->Module();
  EXPECT_EQ(ModuleText(hModule, V_MODULE_NAME), L"VdmBlueFin");
  EXPECT_EQ(ModuleText(hModule, V_MODULE_ID), L"Devices.BlueFin");
  std::array<VInt32, 4> version{};
  ASSERT_EQ(VModuleGetVersion(hModule, version.data()), V_OK);
  EXPECT_EQ(version, (std::array<VInt32, 4>{9, 0, 0, 0}));
  EXPECT_EQ(ModuleText(hModule, V_PLUGIN_NAME), L"BlueFin");
  EXPECT_EQ(ModuleText(hModule, V_PLUGIN_INTERFACE_TYPE), V_DEVICE_MANAGER_INTERFACE_TYPE);

  // One table, the one the device manager plugs, for the version the host
  // plugs with and every minor version of the same major up to it.
  const VPluginInterfaceVersion *versions = nullptr;
  VInt32 count = 0;
  ASSERT_EQ(VPluginModuleGetInterfaceVersions(hModule, &versions, &count), V_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(versions[0].pInterface, module_->Interface());
  for (VUInt32 minor = 0; minor <= (V_DEVICE_MANAGER_INTERFACE_VERSION & 0xFF); ++minor) {
    EXPECT_TRUE(Serves(versions[0], (V_DEVICE_MANAGER_INTERFACE_VERSION & 0xFF00) | minor)) << minor;
  }
  for (const VUInt32 unserved : {0x00FFu, V_DEVICE_MANAGER_INTERFACE_VERSION + 1, 0x0200u}) {
    EXPECT_FALSE(Serves(versions[0], unserved)) << std::hex << unserved;
  }
  const std::set<int> filled = {1, 7, 9, 10, 11, 12, 13, 24, 27, 37, 38, 39, 40};
  const auto *slots = reinterpret_cast<void *const *>(module_->Interface());
  for (int slot = 1; slot <= V_DEVICE_MANAGER_SLOT_COUNT; ++slot) {
    EXPECT_EQ(slots[slot - 1] != nullptr, filled.count(slot) == 1) << "slot " << slot;
  }

  // The host loads these first. Compared by the module each gives: a DLL's
  // address of another DLL's function may be its own import stub.
  const auto modulesOf = [](std::span<const VModuleOfProc> procs) {
    std::set<HVModule> modules;
    for (const VModuleOfProc moduleOf : procs) {
      vfw::Handle module;
      EXPECT_EQ(moduleOf(module.put()), V_OK);
      modules.insert(module.get());
    }
    return modules;
  };
  const VModuleOfProc *dependences = nullptr;
  ASSERT_EQ(VModuleGetDependences(hModule, &dependences, &count), V_OK);
  EXPECT_EQ(modulesOf({dependences, static_cast<std::size_t>(count)}),
            modulesOf(std::array{VCoreModuleOf, VMediaModuleOf, VDevicesModuleOf, VMediaProcModuleOf,
                                 VBiometricsModuleOf}));
  EXPECT_EQ(count, 5);

  const auto moduleOf =
      reinterpret_cast<VModuleOfProc>(vfw::LoadedLibraryExport(VDM_EMULATED_MODULE_PATH, kModuleOf));
  ASSERT_NE(moduleOf, nullptr);
  VTestResetCalls();
  VTestSetCallLog(V_TRUE);
  vfw::Handle again;
  EXPECT_EQ(moduleOf(again.put()), V_OK);
  VTestSetCallLog(V_FALSE);
  EXPECT_EQ(again.get(), hModule);
  std::array<const char *, 16> calls{};
  const VInt32 logged = VTestGetCallLog(calls.data(), static_cast<VInt32>(calls.size()));
  for (VInt32 i = 0; i < logged; ++i) {
    EXPECT_STRNE(calls[i], "VModuleRegister");
  }
}

// Two parameters, built once. Their names are the ones every creation
// fills in; their defaults show where a creation leaves one out.
TEST_F(DeviceTest, ParametersAreBuiltOnceAndNullPlacesAreRefused) {
  HVParameterDescriptor *first = nullptr;
  HVParameterDescriptor *second = nullptr;
  VInt32 count = 0;
  ASSERT_EQ(Slots().pGetParameters(&first, &count), V_OK);
  ASSERT_EQ(count, 2);
  ASSERT_EQ(Slots().pGetParameters(&second, &count), V_OK);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(first[i], second[i]);
    VUInt32 attributes = 0;
    ASSERT_EQ(VParameterDescriptorGetAttributes(first[i], &attributes), V_OK);
    EXPECT_EQ(attributes, 0x10000000u);
  }
  VObjectFreeArray(first, 2);
  VObjectFreeArray(second, 2);
  EXPECT_TRUE(
      HasLastError(Slots().pGetParameters(nullptr, &count), V_E_ARGUMENT_NULL, L"parhParameters is NULL"));
  EXPECT_TRUE(
      HasLastError(Slots().pGetParameters(&first, nullptr), V_E_ARGUMENT_NULL, L"pParameterCount is NULL"));
}

TEST_F(DeviceTest, BadParametersFailBeforeAnythingConnects) {
  emu::Emulator &scanner = StartScanner();
  HVDevice hDevice = nullptr;
  struct Case {
    const wchar_t *name;
    const emu::Emulator *scanner;
    VResult code;
    std::wstring callStack;
  } cases[] = {
      // clang-format off
      {L"Scanner", nullptr,  V_E_WIN32,    L"   at WSAStringToAddressW\r\n"},  // the "XX:..." default
      {L"",        nullptr,  V_E_WIN32,    L"   at WSAStringToAddressW\r\n"},  // address tested first
      {L"",        &scanner, V_E_ARGUMENT, L""},
      // clang-format on
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Create(c.scanner, &hDevice, c.name), c.code);
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
  EXPECT_TRUE(HasLastError(module_->Plug(0x0200), V_E_NOT_SUPPORTED_VERSION, L""));
  emu::Emulator &scanner = StartScanner();
  HVDevice hDevice = nullptr;
  EXPECT_EQ(Create(&scanner, &hDevice), V_E_NOT_SUPPORTED_VERSION);
  EXPECT_EQ(hDevice, nullptr);
  EXPECT_TRUE(module_->Events().empty());
  // Opened, then closed again: the default key is back on the scanner.
  EXPECT_EQ(Codes(scanner.Transcript()).back(), kSetKey);
  EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);
}

// Creation runs echo and identity under the default key, the key switch
// answered under it too, and status 0 under the new session key; then the
// host is told, with its parameter. A refused notification fails its call:
// a device whose removal was refused stays usable, and one whose addition
// was refused stays listed for the unplug to close. A removal notifies
// with the device and the host's parameter.
TEST_F(DeviceTest, CreationAndRemovalTellTheHost) {
  emu::Emulator &scanner = StartScanner();
  int hostParam = 0;
  HVDevice hDevice = nullptr;
  ASSERT_EQ(Create(&scanner, &hDevice, L"Left hand", &hostParam), V_OK);
  EXPECT_EQ(Property(Slots().pGetDisplayName, hDevice), L"Left hand");
  // Without a display name the device takes its default.
  EXPECT_EQ(Property(Slots().pGetDisplayName, CreateOn(StartScanner(), nullptr)), L"TopLink Pacific Device");
  const auto transcript = scanner.Transcript();
  ASSERT_EQ(Codes(transcript), (std::vector<std::uint8_t>{kEcho, kIdentity, kSetKey, kSetStatus}));
  EXPECT_EQ(transcript[2].key, emu::kDefaultKey);
  EXPECT_NE(transcript[3].key, emu::kDefaultKey);
  EXPECT_EQ(scanner.CurrentKey(), transcript[3].key);
  auto events = module_->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Kind::kAdded);
  EXPECT_EQ(events[0].device, hDevice);
  EXPECT_EQ(events[0].plugin, module_->Plugin());
  EXPECT_EQ(events[0].hostParam, &hostParam);
  for (auto kind : {Kind::kRemoving, Kind::kRemoved}) {
    module_->FailCallback(kind, -55);
    EXPECT_EQ(Slots().pRemoveDevice(hDevice, nullptr), -55);
    module_->FailCallback(kind, V_OK);
    EXPECT_EQ(Property(Slots().pGetModel, hDevice), L"BF-2000");
  }
  EXPECT_NE(scanner.CurrentKey(), emu::kDefaultKey);
  module_->ClearEvents();
  ASSERT_EQ(Slots().pRemoveDevice(hDevice, &hostParam), V_OK);
  events = module_->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Kind::kRemoving);
  EXPECT_EQ(events[1].kind, Kind::kRemoved);
  for (const auto &event : events) {
    EXPECT_EQ(event.device, hDevice);
    EXPECT_EQ(event.hostParam, &hostParam);
  }

  module_->FailCallback(Kind::kAdded, -56);
  HVDevice hRefused = nullptr;
  EXPECT_EQ(Create(&scanner, &hRefused), -56);
  EXPECT_EQ(hRefused, nullptr);
  ASSERT_EQ(module_->Unplug(), V_OK);
  EXPECT_EQ(scanner.CurrentKey(), emu::kDefaultKey);
}

// Armed, polled every two seconds until the image is ready, one report per
// image part, disarmed. A second capture meanwhile is refused, and
// cancelling it leaves the first alone.
TEST_F(DeviceTest, CapturePollsUntilReadyThenTransfersAndDisarms) {
  for (unsigned ready : {0u, 3u}) {
    SCOPED_TRACE(testing::Message() << "ready after " << ready << " polls");
    emu::Emulator &scanner = StartScanner(ReadyAfter(ready));
    const HVDevice hDevice = CreateOn(scanner);
    scanner.ClearTranscript();
    unsigned refused = 0;
    CaptureRun run = Capture(hDevice, {}, nullptr, [&](VBiometricStatus *status, HVImage) {
      if (*status == V_BIOMETRIC_STATUS_OBJECT_MISSING) {
        EXPECT_TRUE(
            HasLastError(Capture(hDevice).result, V_E_INVALID_OPERATION, L"Scanner is already capturing"));
        EXPECT_EQ(Slots().pCancel(hDevice, &refused), V_OK);
        ++refused;
      }
      return V_OK;
    });
    run.Collect();
    EXPECT_EQ(refused, ready);
    ASSERT_EQ(run.result, V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
    EXPECT_EQ(run.status, V_BIOMETRIC_STATUS_OK);
    EXPECT_TRUE(run.image == scanner.ExpectedImage());

    std::vector<std::pair<VBiometricStatus, bool>> reports(ready, {V_BIOMETRIC_STATUS_OBJECT_MISSING, false});
    reports.push_back({V_BIOMETRIC_STATUS_NONE, false});
    reports.insert(reports.end(), emu::kImageParts, {V_BIOMETRIC_STATUS_NONE, true});
    EXPECT_EQ(run.reports, reports);
    EXPECT_EQ(run.sleeps, std::vector<VInt32>(ready, 2000));

    VBool cleared = V_TRUE;
    ASSERT_EQ(VObjectGetPropertyPW(captureObject_.get(), L"Fingers.CheckDetectObjectsCleared", VBooleanTypeOf,
                                   &cleared, sizeof(cleared)),
              V_OK);
    EXPECT_EQ(cleared, V_FALSE);

    std::vector<std::uint8_t> expectedCodes(ready + 2, kGetStatus);
    expectedCodes.front() = kSetStatus;
    expectedCodes.insert(expectedCodes.end(), emu::kImageParts, kImagePart);
    expectedCodes.push_back(kSetStatus);
    const auto transcript = scanner.Transcript();
    EXPECT_EQ(Codes(transcript), expectedCodes);
    EXPECT_EQ(transcript.front().arguments.at(0), 1);
    EXPECT_EQ(transcript.back().arguments.at(0), 0);
  }
}

// A failed report ends the capture without writing the image; a final
// status set by the callback skips the transfer. Either way the device is
// idle after. A scanner's failures are the link-failure sweep's.
TEST_F(DeviceTest, TheCallbackEndsTheCaptureEarly) {
  emu::Emulator &scanner = StartScanner(ReadyAfter(0));
  const HVDevice hDevice = CreateOn(scanner);
  const struct {
    const char *what;
    ReportAction action;
    VResult code;
    VBiometricStatus status;
    bool written;  // with no image
  } cases[] = {
      // clang-format off
      {"fails a poll",        [](VBiometricStatus *, HVImage) { return -60; },                      -60,  0,                           false},
      {"fails a part",        [](VBiometricStatus *, HVImage image) { return image ? -61 : V_OK; }, -61,  0,                           false},
      {"sets a final status", [](VBiometricStatus *status, HVImage) { *status = V_BIOMETRIC_STATUS_CANCELED; return V_OK; }, V_OK, V_BIOMETRIC_STATUS_NO_IMAGE, true},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const CaptureRun run = Capture(hDevice, {}, nullptr, c.action);
    EXPECT_EQ(run.result, c.code);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.written, c.written);
    EXPECT_EQ(run.handle, nullptr);
    // Idle again: the next capture runs to its end.
    CaptureRun next = Capture(hDevice);
    next.Collect();
    EXPECT_EQ(next.status, V_BIOMETRIC_STATUS_OK);
    EXPECT_TRUE(next.image == scanner.ExpectedImage());
  }
}

}  // namespace
}  // namespace vdm::test
