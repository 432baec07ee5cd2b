// A minimal device module: registers a plug-in module when loaded, unregisters it when unloaded,
// serves a small device manager interface and owns one object type.
#include "test_module.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

TEST_EXPORT VResult V_CALL TestModuleOf(HVModule *phModule);

namespace {

TestModuleControl gControl;
HVModule gModule = nullptr;
HVType gWidgetType = nullptr;
VDeviceManagerInterface gInterface;
const VPluginInterfaceVersion kInterfaceVersions[] = {{0x01000103u, &gInterface}};
const VModuleOfProc kDependences[] = {VCoreModuleOf, VDevicesModuleOf};

VResult V_CALL GetDeviceTypes(VUInt32 *pValue) {
  *pValue = 8;
  return V_OK;
}

// Device handles are the host parameter's address: enough for the host callbacks to carry.
VResult V_CALL CreateDevice(HVPropertyBag, HVDevice *phDevice, void *pHostParam) {
  *phDevice = pHostParam;
  return gControl.callbacks->pOnDeviceAdded(pHostParam, gControl.plugin, pHostParam);
}

VResult V_CALL RemoveDevice(HVDevice hDevice, void *pHostParam) {
  VResult result = gControl.callbacks->pOnDeviceRemoving(hDevice, gControl.plugin, pHostParam);
  if (VFailed(result)) {
    return result;
  }
  return gControl.callbacks->pOnDeviceRemoved(hDevice, gControl.plugin, pHostParam);
}

VResult V_CALL Init() {
  ++gControl.initCalls;
  if (VFailed(gControl.initFailure)) {
    return VErrorSetLastW(gControl.initFailure, L"Init refused", nullptr, nullptr, nullptr, nullptr);
  }
  return V_OK;
}

VResult V_CALL Uninit(VBool flag) {
  ++gControl.uninitCalls;
  if (flag != V_FALSE) {
    return V_OK;
  }
  return gControl.isPlugged ? VPluginUnplug(gControl.plugin) : V_OK;
}

VResult V_CALL Plug(void *pFirst, VUInt32 interfaceVersion, const void *pHostCallbacks, HVPlugin hPlugin) {
  ++gControl.plugCalls;
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
  gInterface.pGetDeviceTypes = GetDeviceTypes;
  gInterface.pCreateDevice = CreateDevice;
  gInterface.pRemoveDevice = RemoveDevice;
  HVModule module = nullptr;
  VResult result = VPluginModuleCreate(&module);
  if (VSucceeded(result))
    result = VModuleSetDependences(module, kDependences, 2);
  if (VSucceeded(result))
    result = VModuleSetInit(module, Init);
  if (VSucceeded(result))
    result = VModuleSetUninit(module, Uninit);
  if (VSucceeded(result))
    result = VModuleSetNameW(module, L"TestModule");
  if (VSucceeded(result))
    result = VModuleSetVersionMajor(module, 2);
  if (VSucceeded(result))
    result = VPluginModuleSetPluginNameW(module, L"Test");
  if (VSucceeded(result))
    result = VPluginModuleSetPriority(module, 5);
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

VResult V_CALL WidgetDispose(HVObject) {
  return V_OK;
}

VResult V_CALL WidgetTypeInit(VTypeDescriptor **ppDescriptor) {
  VTypeDescriptor *d = nullptr;
  VResult result = VCAlloc(sizeof(VTypeDescriptor), reinterpret_cast<void **>(&d));
  if (VFailed(result)) {
    return result;
  }
  d->pModuleOf = TestModuleOf;
  d->pBaseTypeOf = VObjectTypeOf;
  d->descriptorSize = d->descriptorSize2 = sizeof(VTypeDescriptor);
  d->baseInstanceSize = sizeof(VObjectBase);
  d->instanceSize = sizeof(VObjectBase) + 16;
  d->field84 = V_TYPE_FIELD84;
  d->flags = V_TYPE_FLAGS_OBJECT;
  d->field92 = V_TYPE_FIELD92;
  d->szName = L"TestWidget";
  d->pDispose = WidgetDispose;
  *ppDescriptor = d;
  return V_OK;
}

VResult V_CALL WidgetTypeOf(HVType *phType) {
  if (gWidgetType == nullptr) {
    VResult result = VTypeRegister(WidgetTypeInit, &gWidgetType);
    if (VFailed(result)) {
      return result;
    }
  }
  return VObjectGet(gWidgetType, phType);
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

TEST_EXPORT VResult TestModuleCreateWidget(HVObject *phWidget) {
  return VTypeAllocInstanceP(WidgetTypeOf, phWidget);
}
