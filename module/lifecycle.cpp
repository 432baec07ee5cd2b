// Module init and uninit, plug and unplug.
#include "bluetooth/v_bluetooth.h"
#include "module/device_record.h"
#include "module/module_state.h"
#include "module/vdm_bluefin.h"
#include "module/vdm_bluefin_module_of.h"

namespace vdm {
namespace {

// Closes every record of the range, last entry first. A record that fails
// to close is still freed (DeviceRecordClose never keeps one), so the walk
// goes on and the first failure is returned; the list keeps no entry that
// anyone could read again, since it is disposed right after.
VResult CloseAllDeviceRecords(DeviceRecord **first, DeviceRecord **end) {
  VResult result = V_OK;
  if (first) {
    for (DeviceRecord **entry = end; entry != first;) {
      --entry;
      const VResult closed = DeviceRecordClose(*entry);
      if (VFailed(closed) && VSucceeded(result)) {
        result = closed;
      }
    }
  }
  return result;
}

}  // namespace

VResult V_CALL VdmBlueFinModuleInit() {
  VMonitorInit(&ModuleMonitor);
  IsModuleInitialized.store(V_TRUE, std::memory_order_release);
  const VResult result = VTraceSourceCreateW(kTraceSourceName, &ModuleTraceSource);
  return VFailed(result) ? result : V_OK;
}

VResult V_CALL VdmBlueFinModuleUninit(VBool flag) {
  if (flag) {
    return V_OK;
  }
  HVPlugin hPlugin = nullptr;
  VBool isPlugged = V_FALSE;
  if (IsModuleInitialized.load(std::memory_order_acquire)) {
    MonitorLock lock;
    isPlugged = IsPlugged;
    hPlugin = PluginHandle;
  }
  if (isPlugged) {
    const VResult result = VPluginUnplug(hPlugin);
    if (VFailed(result)) {
      return result;
    }
  }
  const VResult result = VObjectSet(nullptr, &ModuleTraceSource);
  if (VFailed(result)) {
    return result;
  }
  if (IsModuleInitialized.load(std::memory_order_acquire)) {
    VMonitorDispose(&ModuleMonitor);
  }
  IsModuleInitialized.store(V_FALSE, std::memory_order_release);
  return V_OK;
}

VResult V_CALL VdmBlueFinPlug(void * /*pFirst*/, VUInt32 interfaceVersion, const void *pHostCallbacks,
                              HVPlugin hPlugin) {
  VResult result = VModuleCheckInitP(VdmBlueFinModuleOf, nullptr);
  if (VFailed(result)) {
    return result;
  }
  if (!IsModuleInitialized.load(std::memory_order_acquire)) {
    return VErrorSetLastW(V_E_INVALID_OPERATION, kNotInitializedMessage, nullptr, nullptr, nullptr, nullptr);
  }
  MonitorLock lock;
  // Recorded before any check, so that unplug and uninit know of this plug
  // even when it fails below.
  PluggedInterfaceVersion = static_cast<VUInt16>(interfaceVersion & 0xFFFF);
  PluginHandle = hPlugin;
  IsPlugged = V_TRUE;
  if (MajorVersion(interfaceVersion) != kSupportedMajorVersion) {
    return VErrorSetLastMPNA(V_E_NOT_SUPPORTED_VERSION, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  HostCallbacks = static_cast<const VDeviceManagerCallbacks *>(pHostCallbacks);
  result = VBluetoothSocketStartup();
  if (VFailed(result)) {
    return result;
  }
  // A second plug without an unplug keeps the list it has, and its records.
  if (!IsDeviceListInitialized) {
    result = VListInit(&DeviceList, sizeof(DeviceRecord *), 0);
    if (VFailed(result)) {
      return result;
    }
    IsDeviceListInitialized = true;
  }
  return V_OK;
}

VResult V_CALL VdmBlueFinUnplug() {
  if (!IsModuleInitialized.load(std::memory_order_acquire)) {
    return VErrorSetLastW(V_E_INVALID_OPERATION, kNotInitializedMessage, nullptr, nullptr, nullptr, nullptr);
  }
  MonitorLock lock;
  DeviceRecord **first = nullptr;
  DeviceRecord **end = nullptr;
  if (IsDeviceListInitialized) {
    // Without the list's range no record can be closed; disposing the list
    // would lose them and their connections for good. The module stays
    // plugged with its devices, so that unplugging again can close them.
    const VResult ranged = GetDeviceListRange(&first, &end);
    if (VFailed(ranged)) {
      return ranged;
    }
  }
  IsPlugged = V_FALSE;
  VResult result = V_OK;
  if (IsDeviceListInitialized) {
    result = CloseAllDeviceRecords(first, end);
    // Every record is freed by now, so the list is never read again, even
    // if the host fails to dispose it (its storage is then the host's loss).
    const VResult disposed = VListDispose(&DeviceList);
    IsDeviceListInitialized = false;
    if (VFailed(disposed) && VSucceeded(result)) {
      result = disposed;
    }
  }
  const VResult cleaned = VBluetoothSocketCleanup();
  if (VFailed(result) || VFailed(cleaned)) {
    return VFailed(result) ? result : cleaned;
  }
  HostCallbacks = nullptr;
  PluggedInterfaceVersion = 0;
  PluginHandle = nullptr;
  return V_OK;
}

}  // namespace vdm
