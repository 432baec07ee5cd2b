// Registration of the module with the host, and the plug-in module it
// builds: module and plug-in properties, the interface table and the
// interface versions it serves.
#include <v_biometrics.h>
#include <v_devices.h>
#include <v_media.h>

#include "module/module_state.h"
#include "module/vdm_bluefin.h"
#include "module/vdm_bluefin_module_of.h"
#include "support/errors.h"
#include "support/object_types.h"

namespace vdm {
namespace {

constexpr VUInt32 kModuleOptions = 4;
constexpr VModuleOfProc kModuleDependences[] = {VCoreModuleOf, VMediaModuleOf, VDevicesModuleOf,
                                                VMediaProcModuleOf, VBiometricsModuleOf};
// Interface versions 1.0 to 1.3: lowest in the high half, highest in the low.
constexpr VUInt32 kInterfaceVersionRange = 0x01000103;
const VPluginInterfaceVersion kInterfaceVersions[] = {{kInterfaceVersionRange, &DeviceManagerInterface}};

VResult SetModuleProperties(HVModule hModule) {
  VResult result;
  if (VFailed(result = VModuleSetOptions(hModule, kModuleOptions)) ||
      VFailed(result = VModuleSetDependences(hModule, kModuleDependences,
                                             static_cast<VInt32>(std::size(kModuleDependences)))) ||
      VFailed(result = VModuleSetInit(hModule, VdmBlueFinModuleInit)) ||
      VFailed(result = VModuleSetUninit(hModule, VdmBlueFinModuleUninit)) ||
      VFailed(result = VModuleSetNameW(hModule, L"VdmBlueFin")) ||
      VFailed(result = VModuleSetTitleW(hModule, L"Brakmoor Devices BlueFin Module 9.0")) ||
      VFailed(result = VModuleSetProductW(hModule, L"Brakmoor Devices")) ||
      VFailed(result = VModuleSetCompanyW(hModule, L"Brakmoor")) ||
      VFailed(result = VModuleSetCopyrightW(hModule, L"Copyright (C) Brakmoor. All rights reserved.")) ||
      VFailed(result = VModuleSetIdW(hModule, L"Devices.BlueFin")) ||
      VFailed(result = VModuleSetNativeIdW(hModule, L"VdmBlueFin")) ||
      VFailed(result = VModuleSetVersionMajor(hModule, 9)) ||
      VFailed(result = VModuleSetVersionMinor(hModule, 0)) ||
      VFailed(result = VModuleSetVersionBuild(hModule, 0)) ||
      VFailed(result = VModuleSetVersionRevision(hModule, 0))) {
    return result;
  }
  return V_OK;
}

VResult SetPluginProperties(HVModule hModule) {
  VResult result;
  if (VFailed(result = VPluginModuleSetPluginNameW(hModule, L"BlueFin")) ||
      VFailed(result = VPluginModuleSetInterfaceTypeW(hModule, V_DEVICE_MANAGER_INTERFACE_TYPE)) ||
      VFailed(result = VPluginModuleSetPriority(hModule, 0)) ||
      VFailed(result = VPluginModuleSetIncompatiblePluginsW(hModule, nullptr)) ||
      VFailed(result = VPluginModuleSetPlug(hModule, VdmBlueFinPlug)) ||
      VFailed(result = VPluginModuleSetUnplug(hModule, VdmBlueFinUnplug))) {
    return result;
  }
  return V_OK;
}

}  // namespace

VResult V_CALL VdmBlueFinModuleCreate(HVModule *phModule) {
  if (!phModule) {
    return ArgumentNull(L"phModule");
  }
  // The protocol's and the transport's object types are this module's.
  SetOwningModule(VdmBlueFinModuleOf);
  HVModule hModule = nullptr;
  VResult result = VPluginModuleCreate(&hModule);
  if (VSucceeded(result)) {
    FillDeviceManagerInterface(&DeviceManagerInterface);
    result = SetModuleProperties(hModule);
  }
  if (VSucceeded(result)) {
    result = SetPluginProperties(hModule);
  }
  if (VSucceeded(result)) {
    result = VPluginModuleSetInterfaceVersions(hModule, kInterfaceVersions, 1);
  }
  if (VSucceeded(result)) {
    // The reference passes to the caller. Nothing may fail after this: a
    // failure with the module already handed out would leak it.
    *phModule = hModule;
    return V_OK;
  }
  return ReleaseHalfMade(result, &hModule);
}

bool VdmBlueFinProcessAttach() {
  if (ModuleHandle) {
    return true;
  }
  const VResult result = VModuleRegister(VdmBlueFinModuleCreate, &ModuleHandle);
  if (VSucceeded(result)) {
    return true;
  }
  // No caller to return the failure to: report it, and undo what the
  // registry may hold only when the report itself got through.
  if (VSucceeded(VErrorReport(result))) {
    VModuleUnregister(&ModuleHandle);
  }
  return false;
}

void VdmBlueFinProcessDetach(bool isProcessEnding) {
  // When the whole process ends the host is going away too; only an unload
  // while the process goes on gives back what the module holds.
  if (!isProcessEnding) {
    ReleaseParameterDescriptors();
    VModuleUnregister(&ModuleHandle);
  }
}

}  // namespace vdm

VResult V_CALL VdmBlueFinModuleOf(HVModule *phModule) {
  if (!vdm::ModuleHandle) {
    const VResult result = VModuleRegister(vdm::VdmBlueFinModuleCreate, &vdm::ModuleHandle);
    if (VFailed(result)) {
      return result;
    }
  }
  const VResult result = VObjectGet(vdm::ModuleHandle, phModule);
  return VFailed(result) ? result : V_OK;
}
