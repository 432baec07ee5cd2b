// Creating a device from the host's parameter bag: address and display
// name give the scanner's VBluetoothDevice, BlueFinCreate connects to it,
// and the opened record joins DeviceList.
#include "bluefin/bluefin.h"
#include "bluetooth/v_bluetooth.h"
#include "module/device_record.h"
#include "module/module_state.h"
#include "module/vdm_bluefin.h"

namespace vdm {
namespace {

VResult BuildDescriptorsLocked() {
  MonitorLock lock;
  return BuildParameterDescriptors();
}

// Appends the record to DeviceList while the module is plugged with a
// version whose callback table it knows; gives the callback table and
// plug-in to notify.
VResult AddToDeviceList(DeviceRecord *record, const VDeviceManagerCallbacks **callbacks, HVPlugin *hPlugin) {
  MonitorLock lock;
  // The host may have unplugged while the scanner was being opened; a record
  // added now would never be closed.
  if (!IsPlugged) {
    return VErrorSetLastW(V_E_INVALID_OPERATION, kNotPluggedMessage, nullptr, nullptr, nullptr, nullptr);
  }
  if (MajorVersion(PluggedInterfaceVersion) != kSupportedMajorVersion) {
    return VErrorSetLastMPNA(V_E_NOT_SUPPORTED_VERSION, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  // A plug that failed after recording itself left no list to add to.
  if (!IsDeviceListInitialized) {
    return VErrorSetLastW(V_E_INVALID_OPERATION, kNotPluggedMessage, nullptr, nullptr, nullptr, nullptr);
  }
  const VResult result = VListAdd(&DeviceList, 0, &record, sizeof(record));
  *callbacks = HostCallbacks;
  *hPlugin = PluginHandle;
  return result;
}

}  // namespace

VResult V_CALL VdmBlueFinCreateDevice(HVPropertyBag hParameters, HVDevice *phDevice, void *pHostParam) {
  HVParameterBag hBag = nullptr;
  HVValue hValue = nullptr;
  HVString hDisplayName = nullptr;
  HVString hAddress = nullptr;
  HVBluetoothDevice hBluetoothDevice = nullptr;
  HVBlueFin hBlueFinDevice = nullptr;
  DeviceRecord *record = nullptr;
  bool isListed = false;

  VResult result = BuildDescriptorsLocked();
  if (VSucceeded(result)) {
    result = VParameterBagCreate(ParameterDescriptors, ParameterDescriptorCount, &hBag);
  }
  if (VSucceeded(result)) {
    result = VParameterBagApplyPropertyBag(hBag, hParameters, V_TRUE);
  }
  if (VSucceeded(result)) {
    result = VParameterBagGetW(hBag, L"DisplayName", &hValue);
  }
  if (VSucceeded(result) && hValue) {
    result = VValueToString(hValue, nullptr, 0, &hDisplayName);
    result = ReleaseInto(result, &hValue);
  }
  if (VSucceeded(result)) {
    result = VParameterBagGetW(hBag, L"BluetoothAddress", &hValue);
  }
  if (VSucceeded(result)) {
    result = VValueToValueP(hValue, VStringTypeOf, nullptr, 0, &hAddress, sizeof(hAddress));
    result = ReleaseInto(result, &hValue);
  }
  if (VSucceeded(result)) {
    result = VBluetoothDeviceCreateFromString(hDisplayName, hAddress, &hBluetoothDevice);
  }
  if (VSucceeded(result)) {
    result = BlueFinCreate(hBluetoothDevice, &hBlueFinDevice);
  }
  if (VSucceeded(result)) {
    result = DeviceRecordOpen(hBlueFinDevice, &record);
    if (VSucceeded(result)) {
      hBlueFinDevice = nullptr;  // the record owns it now
    }
  }
  const VDeviceManagerCallbacks *callbacks = nullptr;
  HVPlugin hPlugin = nullptr;
  if (VSucceeded(result)) {
    result = AddToDeviceList(record, &callbacks, &hPlugin);
    isListed = VSucceeded(result);
  }
  if (VSucceeded(result)) {
    // A refused notification leaves the record in DeviceList: unplug closes
    // it with the others.
    result = callbacks->pOnDeviceAdded(record, hPlugin, pHostParam);
  }
  if (VSucceeded(result)) {
    *phDevice = record;
    result = V_OK;
  }

  result = ReleaseInto(result, &hBluetoothDevice);
  result = ReleaseInto(result, &hValue);
  result = ReleaseInto(result, &hBag);
  result = ReleaseInto(result, &hAddress);
  result = ReleaseInto(result, &hDisplayName);
  if (record && !isListed) {
    const VResult closed = DeviceRecordClose(record);
    if (VFailed(closed) && VSucceeded(result)) {
      result = closed;
    }
  }
  return ReleaseInto(result, &hBlueFinDevice);
}

}  // namespace vdm
