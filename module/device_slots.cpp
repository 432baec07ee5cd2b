// The device property slots, cancel and removal.
#include "module/device_record.h"
#include "module/module_state.h"
#include "module/vdm_bluefin.h"

namespace vdm {
namespace {

// Runs a device slot's operation on a valid record under ModuleMonitor.
template <typename Operation>
VResult WithDevice(HVDevice hDevice, Operation operation) {
  PlugGuard guard;
  if (VFailed(guard.result())) {
    return guard.result();
  }
  DeviceRecord *record = nullptr;
  VResult result = LookupDevice(hDevice, &record);
  if (VSucceeded(result)) {
    result = operation(record);
  }
  return VFailed(result) ? result : V_OK;
}

}  // namespace

VResult V_CALL VdmBlueFinGetId(HVDevice hDevice, HVString *phValue) {
  return WithDevice(hDevice, [phValue](DeviceRecord *record) {
    return VStringFormatW(phValue, L"{S} {AS} {I:H8}", kMake, record->model, record->serialNumber);
  });
}

VResult V_CALL VdmBlueFinGetDisplayName(HVDevice hDevice, HVString *phValue) {
  return WithDevice(
      hDevice, [phValue](DeviceRecord *record) { return BlueFinGetName(record->hBlueFinDevice, phValue); });
}

VResult V_CALL VdmBlueFinGetMake(HVDevice /*hDevice*/, HVString *phValue) {
  const VResult result = VStringCreateFromStrOrCharsW(kMake, -1, phValue);
  return VFailed(result) ? result : V_OK;
}

VResult V_CALL VdmBlueFinGetModel(HVDevice hDevice, HVString *phValue) {
  return WithDevice(hDevice, [phValue](DeviceRecord *record) {
    return VStringCreateFromStrOrCharsA(record->model, -1, phValue);
  });
}

VResult V_CALL VdmBlueFinGetSerialNumber(HVDevice hDevice, HVString *phValue) {
  return WithDevice(hDevice, [phValue](DeviceRecord *record) {
    return VStringFormatW(phValue, L"{I:H8}", record->serialNumber);
  });
}

// The stop is asked for under ModuleMonitor and waited for without it: the
// capture's callbacks may call any slot meanwhile.
VResult V_CALL VdmBlueFinCancel(HVDevice hDevice, void *pCaptureParam) {
  PlugGuard guard;
  if (VFailed(guard.result())) {
    return guard.result();
  }
  DeviceRecord *record = nullptr;
  const VResult result = LookupDevice(hDevice, &record);
  if (VFailed(result)) {
    return result;
  }
  StopWait wait;
  record->stop.RequestStop(&wait, record->hIdleEvent, pCaptureParam, /*anyCapture=*/false,
                           /*monitorHeldByCaller=*/true);
  guard.Release();
  const VResult waited = CaptureStop::AwaitEnd(&wait);
  return VFailed(waited) ? waited : V_OK;
}

VResult V_CALL VdmBlueFinRemoveDevice(HVDevice hDevice, void *pHostParam) {
  PlugGuard guard;
  if (VFailed(guard.result())) {
    return guard.result();
  }
  DeviceRecord *record = nullptr;
  VResult result = LookupDevice(hDevice, &record);
  if (VSucceeded(result) && MajorVersion(PluggedInterfaceVersion) != kSupportedMajorVersion) {
    result = VErrorSetLastMPNA(V_E_NOT_SUPPORTED_VERSION, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  // The host may refuse the removal; the device then stays, usable.
  if (VSucceeded(result)) {
    result = HostCallbacks->pOnDeviceRemoving(hDevice, PluginHandle, pHostParam);
  }
  if (VSucceeded(result)) {
    result = HostCallbacks->pOnDeviceRemoved(hDevice, PluginHandle, pHostParam);
  }
  if (VSucceeded(result)) {
    result = VListRemove(&DeviceList, 0, &hDevice, sizeof(hDevice), 0);
  }
  if (VFailed(result)) {
    return result;
  }
  // Out of DeviceList the record is this thread's alone: it is closed
  // without the monitor, which the capture's callbacks may need while the
  // close waits for the capture, and other devices do not wait for the
  // scanner's key exchange. The device is gone for the host whatever
  // closing it gives; the record is freed in any case.
  guard.Release();
  (void)DeviceRecordClose(record, CloseReason::kRemoved);
  return V_OK;
}

}  // namespace vdm
