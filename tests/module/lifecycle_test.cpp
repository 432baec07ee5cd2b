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

TEST_F(ModuleTest, IdentityAsTheHostSeesIt) {
  ASSERT_EQ(Load(), V_OK);
  const HVModule hModule = module_->Module();
  const std::pair<VModuleText, const wchar_t *> texts[] = {
      {V_MODULE_NAME, L"VdmBlueFin"},
      {V_MODULE_TITLE, L"Brakmoor Devices BlueFin Module 9.0"},
      {V_MODULE_PRODUCT, L"Brakmoor Devices"},
      {V_MODULE_COMPANY, L"Brakmoor"},
      {V_MODULE_COPYRIGHT, L"Copyright (C) Brakmoor. All rights reserved."},
      {V_MODULE_ID, L"Devices.BlueFin"},
      {V_MODULE_NATIVE_ID, L"VdmBlueFin"},
      {V_PLUGIN_NAME, L"BlueFin"},
      {V_PLUGIN_INTERFACE_TYPE, L"VDeviceManager"},
  };
  for (const auto &[which, expected] : texts) {
    EXPECT_EQ(ModuleText(hModule, which), expected) << "text " << which;
  }
  EXPECT_TRUE(ModuleText(hModule, V_PLUGIN_INCOMPATIBLE_PLUGINS).empty());

  std::array<VInt32, 4> version{};
  ASSERT_EQ(VModuleGetVersion(hModule, version.data()), V_OK);
  EXPECT_EQ(version, (std::array<VInt32, 4>{9, 0, 0, 0}));
  VUInt32 options = 0;
  ASSERT_EQ(VModuleGetOptions(hModule, &options), V_OK);
  EXPECT_EQ(options, 4u);

  const VModuleOfProc *dependences = nullptr;
  VInt32 count = 0;
  ASSERT_EQ(VModuleGetDependences(hModule, &dependences, &count), V_OK);
  const VModuleOfProc expected[] = {VCoreModuleOf, VMediaModuleOf, VDevicesModuleOf, VMediaProcModuleOf,
                                    VBiometricsModuleOf};
  ASSERT_EQ(count, 5);
  // Compared by the module each gives: a DLL's address of another DLL's
  // function may be its own import stub.
  for (int i = 0; i < count; ++i) {
    vfw::Handle listed, wanted;
    ASSERT_EQ(dependences[i](listed.put()), V_OK);
    ASSERT_EQ(expected[i](wanted.put()), V_OK);
    EXPECT_EQ(listed.get(), wanted.get()) << "dependence " << i;
  }

  const VPluginInterfaceVersion *versions = nullptr;
  ASSERT_EQ(VPluginModuleGetInterfaceVersions(hModule, &versions, &count), V_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(versions[0].versionRange, 0x01000103u);
  EXPECT_EQ(versions[0].pInterface, module_->Interface());
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
