// Registration, module life-cycle, plug and the interface table, driven
// through the framework's device manager.
#include <array>
#include <functional>
#include <set>

#include "device_fixture.h"

namespace vdm::test {
namespace {

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
// interface it serves and for which versions, and the modules that must be
// loaded before it. The descriptive texts (title, company and so on) are
// only ever shown to people.
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

  // The host loads these first. Compared by the module each gives: a DLL's
  // address of another DLL's function may be its own import stub.
  const VModuleOfProc *dependences = nullptr;
  ASSERT_EQ(VModuleGetDependences(hModule, &dependences, &count), V_OK);
  std::set<HVModule> needed;
  for (int i = 0; i < count; ++i) {
    vfw::Handle listed;
    ASSERT_EQ(dependences[i](listed.put()), V_OK);
    needed.insert(listed.get());
  }
  std::set<HVModule> expected;
  for (const VModuleOfProc moduleOf :
       {VCoreModuleOf, VMediaModuleOf, VDevicesModuleOf, VMediaProcModuleOf, VBiometricsModuleOf}) {
    vfw::Handle wanted;
    ASSERT_EQ(moduleOf(wanted.put()), V_OK);
    expected.insert(wanted.get());
  }
  EXPECT_EQ(needed, expected);
  EXPECT_EQ(count, static_cast<VInt32>(expected.size()));
}

TEST_F(ModuleTest, InterfaceTableFillsItsThirteenSlotsAndNoOther) {
  ASSERT_EQ(Load(), V_OK);
  const std::set<int> filled = {1, 7, 9, 10, 11, 12, 13, 24, 27, 37, 38, 39, 40};
  const auto *slots = reinterpret_cast<void *const *>(module_->Interface());
  for (int slot = 1; slot <= V_DEVICE_MANAGER_SLOT_COUNT; ++slot) {
    EXPECT_EQ(slots[slot - 1] != nullptr, filled.count(slot) == 1) << "slot " << slot;
  }
}

TEST_F(ModuleTest, ConstantSlotsAnswerWithoutInitOrPlug) {
  ASSERT_EQ(Load(), V_OK);
  const std::pair<std::function<VResult(VUInt32 *)>, VUInt32> slots[] = {
      {Slots().pGetDeviceTypes, 8},
      {[this](VUInt32 *pValue) { return Slots().pGetDeviceType(nullptr, pValue); }, 8},
      {Slots().pGetDeviceCreationSupport, 1},
  };
  for (const auto &[slot, expected] : slots) {
    VUInt32 value = 0;
    EXPECT_EQ(slot(&value), V_OK);
    EXPECT_EQ(value, expected);
    EXPECT_TRUE(HasLastError(slot(nullptr), V_E_ARGUMENT_NULL, L"pValue is NULL"));
    EXPECT_EQ(vfw::GetLastError().parameterName, L"pValue");
  }
}

TEST_F(ModuleTest, PlugGuardNamesTheMissingState) {
  ASSERT_EQ(Load(), V_OK);
  HVString hValue = nullptr;
  HVParameterDescriptor *descriptors = nullptr;
  VInt32 count = 0;
  int anyDevice = 0;
  const auto expectGuard = [&](const wchar_t *message) {
    EXPECT_TRUE(HasLastError(Slots().pGetId(&anyDevice, &hValue), V_E_INVALID_OPERATION, message));
    EXPECT_TRUE(HasLastError(Slots().pCancel(&anyDevice, nullptr), V_E_INVALID_OPERATION, message));
    EXPECT_TRUE(HasLastError(Slots().pGetParameters(&descriptors, &count), V_E_INVALID_OPERATION, message));
  };

  expectGuard(L"VdmBlueFin is not initialized");
  EXPECT_TRUE(HasLastError(module_->Unplug(), V_E_INVALID_OPERATION, L"VdmBlueFin is not initialized"));
  ASSERT_EQ(module_->Init(), V_OK);
  expectGuard(L"VdmBlueFin is not plugged");
  ASSERT_EQ(module_->Plug(), V_OK);
  EXPECT_TRUE(HasLastError(Slots().pGetId(&anyDevice, &hValue), V_E_ARGUMENT,
                           L"VdmBlueFin device handle is invalid"));
  EXPECT_TRUE(HasLastError(Slots().pGetId(nullptr, &hValue), V_E_ARGUMENT_NULL, L"hDevice is NULL"));
  ASSERT_EQ(module_->Unplug(), V_OK);
  expectGuard(L"VdmBlueFin is not plugged");
  // The make needs no device and no plug.
  vfw::Handle make;
  ASSERT_EQ(Slots().pGetMake(nullptr, make.put()), V_OK);
  EXPECT_EQ(vfw::ToWString(make.get()), L"TopLink Pacific");
}

TEST_F(ModuleTest, UninitWithAFlagChangesNothingAndWithoutOneUnplugsFirst) {
  LoadAndPlug();
  EXPECT_EQ(module_->Uninit(1), V_OK);
  HVParameterDescriptor *descriptors = nullptr;
  VInt32 count = 0;
  ASSERT_EQ(Slots().pGetParameters(&descriptors, &count), V_OK);
  VObjectFreeArray(descriptors, count);

  EXPECT_EQ(module_->Uninit(0), V_OK);
  EXPECT_TRUE(HasLastError(Slots().pGetParameters(&descriptors, &count), V_E_INVALID_OPERATION,
                           L"VdmBlueFin is not initialized"));
}

TEST_F(ModuleTest, SecondModuleOfGivesTheSameModuleAndRegistersNothing) {
  ASSERT_EQ(Load(), V_OK);
  const auto moduleOf =
      reinterpret_cast<VModuleOfProc>(vfw::LoadedLibraryExport(VDM_EMULATED_MODULE_PATH, kModuleOf));
  ASSERT_NE(moduleOf, nullptr);

  VTestResetCalls();
  VTestSetCallLog(V_TRUE);
  vfw::Handle again;
  EXPECT_EQ(moduleOf(again.put()), V_OK);
  VTestSetCallLog(V_FALSE);
  EXPECT_EQ(again.get(), module_->Module());
  std::array<const char *, 16> calls{};
  const VInt32 logged = VTestGetCallLog(calls.data(), static_cast<VInt32>(calls.size()));
  for (VInt32 i = 0; i < logged; ++i) {
    EXPECT_STRNE(calls[i], "VModuleRegister");
  }
  again.reset();
}

}  // namespace
}  // namespace vdm::test
