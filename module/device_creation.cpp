// Creating a device from the host's parameter bag: address and display
// name give the scanner's VBluetoothDevice, BlueFinCreate connects to it,
// and the opened record joins DeviceList.
#include "bluefin/bluefin.h"
#include "bluetooth/v_bluetooth.h"
#include "module/device_record.h"
#include "module/module_state.h"
#include "module/vdm_bluefin.h"
#include "support/errors.h"

namespace vdm {
namespace {

constexpr wchar_t kRemovedWhileAddedMessage[] = L"VdmBlueFin device was removed while it was being added";

// Appends the record to DeviceList while the module is plugged with a
// version whose callback table it knows; gives the callback table and
// plug-in to notify. The record counts as being added until the host has
// been told: a removal or unplug meanwhile leaves its close to creation.
VResult AddToDeviceList(ModuleUse &use, DeviceRecord *record, const VDeviceManagerCallbacks **callbacks,
                        HVPlugin *hPlugin) {
  use.Enter();
  // The host may have unplugged while the scanner was being opened; a record
  // added now would never be closed.
  VResult result = V_OK;
  if (!IsPlugged) {
    result = VErrorSetLastW(V_E_INVALID_OPERATION, kNotPluggedMessage, nullptr, nullptr, nullptr, nullptr);
  } else if (MajorVersion(PluggedInterfaceVersion) != kSupportedMajorVersion) {
    result = VErrorSetLastMPNA(V_E_NOT_SUPPORTED_VERSION, nullptr, nullptr, nullptr, nullptr, nullptr);
  } else if (!IsDeviceListInitialized) {
    // A plug that failed after recording itself left no list to add to.
    result = VErrorSetLastW(V_E_INVALID_OPERATION, kNotPluggedMessage, nullptr, nullptr, nullptr, nullptr);
  } else {
    result = VListAdd(&DeviceList, 0, &record, sizeof(record));
  }
  if (VSucceeded(result)) {
    record->stop.BeginAdding();
    *callbacks = HostCallbacks;
    *hPlugin = PluginHandle;
  }
  use.Exit();
  return result;
}

// Tells the host of the new device unless it was closed already, and ends
// the adding. A record closed meanwhile is gone for the caller: it fails
// the creation, and the creation finishes the close when nothing else
// holds the record.
VResult NotifyAdded(DeviceRecord *record, const VDeviceManagerCallbacks *callbacks, HVPlugin hPlugin,
                    void *pHostParam) {
  VResult result = V_OK;
  if (record->stop.AddingInterrupted() == CloseReason::kNone) {
    result = callbacks->pOnDeviceAdded(record, hPlugin, pHostParam);
  }
  bool mustClose = false;
  const CloseReason closed = record->stop.EndAdding(&mustClose);
  if (closed == CloseReason::kNone) {
    // A refused notification leaves the record in DeviceList: unplug closes
    // it with the others.
    return result;
  }
  if (mustClose) {
    DeviceRecordFinishHandedOverClose(record);
  }
  return VErrorSetLastW(V_E_INVALID_OPERATION,
                        closed == CloseReason::kRemoved ? kRemovedWhileAddedMessage : kNotPluggedMessage,
                        nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

VResult V_CALL VdmBlueFinCreateDevice(HVPropertyBag hParameters, HVDevice *phDevice, void *pHostParam) {
  // The handle goes out through it once the scanner is open and the host
  // was told: a null place would fail only then, with a device to undo.
  if (!phDevice) {
    return ArgumentNull(L"phDevice");
  }
  // The use keeps ModuleMonitor in being for the whole creation, which
  // takes it twice and may outlast a module uninit on another thread.
  ModuleUse use;
  if (VFailed(use.result())) {
    return use.result();
  }
  HVParameterBag hBag = nullptr;
  HVValue hValue = nullptr;
  HVString hDisplayName = nullptr;
  HVString hAddress = nullptr;
  HVBluetoothDevice hBluetoothDevice = nullptr;
  HVBlueFin hBlueFinDevice = nullptr;
  DeviceRecord *record = nullptr;
  bool isListed = false;

  use.Enter();
  VResult result = BuildParameterDescriptors();
  use.Exit();
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
    result = AddToDeviceList(use, record, &callbacks, &hPlugin);
    isListed = VSucceeded(result);
  }
  if (isListed) {
    // From here the record belongs to DeviceList, or was closed meanwhile.
    result = NotifyAdded(record, callbacks, hPlugin, pHostParam);
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
    result = FirstFailureWins(result, DeviceRecordClose(record));
  }
  return ReleaseInto(result, &hBlueFinDevice);
}

}  // namespace vdm
