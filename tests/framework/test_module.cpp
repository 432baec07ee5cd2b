// A minimal device module: registers a plug-in module when loaded, unregisters it when unloaded,
// and lets the tests make its life-cycle procs fail.
#include "test_module.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

TEST_EXPORT VResult V_CALL TestModuleOf(HVModule *phModule);

namespace {

TestModuleControl gControl;
HVModule gModule = nullptr;
VDeviceManagerInterface gInterface;
const VPluginInterfaceVersion kInterfaceVersions[] = {{0x01000103u, &gInterface}};
const VModuleOfProc kDependences[] = {VCoreModuleOf, VDevicesModuleOf};

VResult V_CALL Init() {
  if (VFailed(gControl.initFailure)) {
    return VErrorSetLastW(gControl.initFailure, L"Init refused", nullptr, nullptr, nullptr, nullptr);
  }
  return V_OK;
}

VResult V_CALL Uninit(VBool flag) {
  if (flag != V_FALSE) {
    return V_OK;
  }
  return gControl.isPlugged ? VPluginUnplug(gControl.plugin) : V_OK;
}

VResult V_CALL Plug(void *pFirst, VUInt32 interfaceVersion, const void *pHostCallbacks, HVPlugin hPlugin) {
  VResult result = VModuleCheckInitP(TestModuleOf, nullptr);
  if (VFailed(result)) {
    return result;
  }
  gControl.pluggedFirst = pFirst;
  gControl.pluggedVersion = interfaceVersion;
  gControl.callbacks = static_cast<const VDeviceManagerCallbacks *>(pHostCallbacks);
  gControl.plugin = hPlugin;
  gControl.isPlugged = V_TRUE;
  return V_OK;
}

VResult V_CALL Unplug() {
  ++gControl.unplugCalls;
  if (VFailed(gControl.unplugFailure)) {
    return VErrorSetLastW(gControl.unplugFailure, L"Unplug refused", nullptr, nullptr, nullptr, nullptr);
  }
  gControl.isPlugged = V_FALSE;
  return V_OK;
}

VResult V_CALL Create(HVModule *phModule) {
  HVModule module = nullptr;
  VResult result = VPluginModuleCreate(&module);
  if (VSucceeded(result))
    result = VModuleSetDependences(module, kDependences, 2);
  if (VSucceeded(result))
    result = VModuleSetInit(module, Init);
  if (VSucceeded(result))
    result = VModuleSetUninit(module, Uninit);
  if (VSucceeded(result))
    result = VPluginModuleSetPlug(module, Plug);
  if (VSucceeded(result))
    result = VPluginModuleSetUnplug(module, Unplug);
  if (VSucceeded(result))
    result = VPluginModuleSetInterfaceVersions(module, kInterfaceVersions, 1);
  if (VSucceeded(result)) {
    *phModule = module;
    module = nullptr;
  }
  VResult released = VObjectSet(nullptr, &module);
  return VFailed(released) ? released : result;
}

__attribute__((constructor)) void OnLoad() {
  VResult result = VModuleRegister(Create, &gModule);
  if (VFailed(result)) {
    VErrorReport(result);
  }
}

__attribute__((destructor)) void OnUnload() {
  VModuleUnregister(&gModule);
}

}  // namespace

TEST_EXPORT VResult V_CALL TestModuleOf(HVModule *phModule) {
  if (gModule == nullptr) {
    VResult result = VModuleRegister(Create, &gModule);
    if (VFailed(result)) {
      return result;
    }
  }
  return VObjectGet(gModule, phModule);
}

TEST_EXPORT TestModuleControl *TestModuleGetControl() {
  return &gControl;
}
