// Module init and uninit, plug and unplug.
#include "bluetooth/v_bluetooth.h"
#include "module/device_record.h"
#include "module/module_state.h"
#include "module/vdm_bluefin.h"
#include "module/vdm_bluefin_module_of.h"

namespace vdm {

VResult V_CALL VdmBlueFinModuleInit() {
  InitModuleMonitor();
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
    ModuleUse use;
    use.Enter();
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
  // A device creation or a slot still under way keeps the monitor until it
  // leaves; the module refuses new calls from here on.
  RetireModuleMonitor();
  return V_OK;
}

VResult V_CALL VdmBlueFinPlug(void * /*pFirst*/, VUInt32 interfaceVersion, const void *pHostCallbacks,
                              HVPlugin hPlugin) {
  VResult result = VModuleCheckInitP(VdmBlueFinModuleOf, nullptr);
  if (VFailed(result)) {
    return result;
  }
  ModuleUse use;
  if (VFailed(use.result())) {
    return use.result();
  }
  use.Enter();
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
  ModuleUse use;
  if (VFailed(use.result())) {
    return use.result();
  }
  use.Enter();
  // Every record leaves DeviceList here, under the monitor, into a chain
  // that puts the last entry first; from then on they are this unplug's
  // alone and nothing else can find them.
  DeviceRecord *closing = nullptr;
  VResult result = V_OK;
  if (IsDeviceListInitialized) {
    // Without the list's range no record can be closed; disposing the list
    // would lose them and their connections for good. The module stays
    // plugged with its devices, so that unplugging again can close them.
    DeviceRecord **first = nullptr;
    DeviceRecord **end = nullptr;
    const VResult ranged = GetDeviceListRange(&first, &end);
    if (VFailed(ranged)) {
      return ranged;
    }
    for (DeviceRecord **entry = first; entry && entry != end; ++entry) {
      (*entry)->nextToClose = closing;
      closing = *entry;
    }
    // The list is never read again, even if the host fails to dispose it
    // (its storage is then the host's loss).
    result = VListDispose(&DeviceList);
    IsDeviceListInitialized = false;
  }
  IsPlugged = V_FALSE;
  // The closes run without the monitor: they wait for running captures,
  // whose callbacks may call the module meanwhile. A record that cannot be
  // given its key back is freed all the same, and closed is closed: its
  // failure stays the thread's last error but does not fail the unplug,
  // or the host would hold the module plugged with nothing left to unplug.
  use.Exit();
  while (closing) {
    DeviceRecord *record = closing;
    closing = record->nextToClose;
    (void)DeviceRecordClose(record, CloseReason::kUnplugged);
  }
  use.Enter();
  if (IsPlugged) {
    return result;  // plugged again meanwhile: what that plug set up stays
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
