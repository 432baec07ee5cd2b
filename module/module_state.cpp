#include "module/module_state.h"

#include "module/device_record.h"

namespace vdm {

HVModule ModuleHandle;
std::atomic<VBool> IsModuleInitialized;
VMonitor ModuleMonitor;
HVTraceSource ModuleTraceSource;
VBool IsPlugged;
VUInt16 PluggedInterfaceVersion;
const VDeviceManagerCallbacks *HostCallbacks;
HVPlugin PluginHandle;
VList DeviceList;
bool IsDeviceListInitialized;
VDeviceManagerInterface DeviceManagerInterface;
HVParameterDescriptor *ParameterDescriptors;
VInt32 ParameterDescriptorCount;

PlugGuard::PlugGuard() {
  if (!IsModuleInitialized.load(std::memory_order_acquire)) {
    result_ =
        VErrorSetLastW(V_E_INVALID_OPERATION, kNotInitializedMessage, nullptr, nullptr, nullptr, nullptr);
    return;
  }
  VMonitorEnter(&ModuleMonitor);
  held_ = true;
  if (!IsPlugged) {
    result_ = VErrorSetLastW(V_E_INVALID_OPERATION, kNotPluggedMessage, nullptr, nullptr, nullptr, nullptr);
    Leave();
    return;
  }
  result_ = V_OK;
}

void PlugGuard::Leave() {
  if (held_) {
    held_ = false;
    VMonitorExit(&ModuleMonitor);
  }
}

VResult GetDeviceListRange(DeviceRecord ***pFirst, DeviceRecord ***pEnd) {
  const VResult result = VListGetStart(&DeviceList, sizeof(DeviceRecord *), 0, pFirst);
  return VFailed(result) ? result : VListGetEnd(&DeviceList, sizeof(DeviceRecord *), 0, pEnd);
}

VResult LookupDevice(HVDevice hDevice, DeviceRecord **ppRecord) {
  if (!hDevice) {
    return VErrorSetLastW(V_E_ARGUMENT_NULL, L"hDevice is NULL", L"hDevice", nullptr, nullptr, nullptr);
  }
  if (IsDeviceListInitialized) {
    DeviceRecord **first = nullptr;
    DeviceRecord **end = nullptr;
    const VResult result = GetDeviceListRange(&first, &end);
    if (VFailed(result)) {
      return result;
    }
    for (DeviceRecord **entry = first; entry && entry != end; ++entry) {
      if (*entry == hDevice) {
        *ppRecord = *entry;
        return V_OK;
      }
    }
  }
  return VErrorSetLastW(V_E_ARGUMENT, L"VdmBlueFin device handle is invalid", nullptr, nullptr, nullptr,
                        nullptr);
}

}  // namespace vdm
