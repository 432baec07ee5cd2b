// Opening and closing device records, stopping a capture, and relaying the
// image transfer's progress to the host.
#include "module/device_record.h"

#include <new>

#include "bluefin/bluefin.h"
#include "module/module_state.h"
#include "support/errors.h"

namespace vdm {
namespace {

constexpr wchar_t kOpeningExchangeFailedMessage[] = L"The scanner did not complete the opening exchange";

// Keeps the thread's last error across a sequence whose own failures are
// suppressed, so that the caller's error survives whatever happens inside.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(VErrorGetLastEx(0, &hSavedError_)) {}
  ~LastErrorKeeper() {
    if (VSucceeded(saved_)) {
      VErrorSetLastEx(hSavedError_, 2);
      if (hSavedError_) {
        VObjectUnref(hSavedError_);
      }
    }
  }
  LastErrorKeeper(const LastErrorKeeper &) = delete;
  LastErrorKeeper &operator=(const LastErrorKeeper &) = delete;

 private:
  HVError hSavedError_ = nullptr;
  VResult saved_;
};

// Gives the scanner its key back and releases what the record owns, then
// the record. Nothing else may touch it any more.
VResult FinishClose(DeviceRecord *pDevice) {
  VResult result = V_OK;
  if (pDevice->hBlueFinDevice && pDevice->restoreKeyOnClose) {
    // A scanner that no longer answers cannot be given its key back; the
    // record goes all the same and the caller learns of the failure.
    result = BlueFinRestoreDefaultKey(pDevice->hBlueFinDevice);
  }
  result = ReleaseInto(result, &pDevice->hBlueFinDevice);
  result = ReleaseInto(result, &pDevice->hCaptureObject);
  result = ReleaseInto(result, &pDevice->hIdleEvent);
  result = ReleaseInto(result, &pDevice->hAddress);
  pDevice->~DeviceRecord();
  VFree(pDevice);
  return VFailed(result) ? result : V_OK;
}

}  // namespace

bool DeviceRecordHandshake(HVBlueFin hBlueFinDevice, DeviceRecord *record, bool *keySwitched) {
  LastErrorKeeper keeper;
  *keySwitched = false;
  VResult result =
      BlueFinGetDeviceInfo(hBlueFinDevice, record->model, &record->serialNumber, nullptr, nullptr, nullptr);
  if (VSucceeded(result)) {
    result = BlueFinSetRandomKey(hBlueFinDevice);
    *keySwitched = VSucceeded(result);
  }
  if (VSucceeded(result)) {
    result = BlueFinSetStatus(hBlueFinDevice, BLUEFIN_STATUS_IDLE);
  }
  if (VFailed(result)) {
    VErrorSuppress(result);
  }
  return VSucceeded(result);
}

VResult DeviceRecordOpen(HVBlueFin hBlueFinDevice, DeviceRecord **ppDevice) {
  if (!hBlueFinDevice) {
    return ArgumentNull(L"hBlueFinDevice");
  }
  if (!ppDevice) {
    return ArgumentNull(L"ppDevice");
  }
  DeviceRecord *record = nullptr;
  void *memory = nullptr;
  VResult result = VCAlloc(sizeof(DeviceRecord), &memory);
  if (VSucceeded(result)) {
    record = new (memory) DeviceRecord{};
    result = VSyncEventCreate(V_TRUE, V_TRUE, &record->hIdleEvent);
  }
  if (VSucceeded(result)) {
    result = BlueFinGetAddress(hBlueFinDevice, &record->hAddress);
  }
  if (VSucceeded(result)) {
    result = BlueFinSetProgressCallback(hBlueFinDevice, DeviceRecordProgress, record);
  }
  if (VSucceeded(result)) {
    bool keySwitched = false;
    if (DeviceRecordHandshake(hBlueFinDevice, record, &keySwitched)) {
      record->hBlueFinDevice = hBlueFinDevice;  // the caller's reference passes to the record
      record->restoreKeyOnClose = V_TRUE;
      *ppDevice = record;
      return V_OK;
    }
    // A scanner left on the session key would refuse every later connection,
    // which starts under the default key: put it back while we still can.
    if (keySwitched) {
      LastErrorKeeper keeper;
      const VResult restored = BlueFinRestoreDefaultKey(hBlueFinDevice);
      if (VFailed(restored)) {
        VErrorSuppress(restored);
      }
    }
    result = VErrorSetLastW(V_E_FAILED, kOpeningExchangeFailedMessage, nullptr, nullptr, nullptr, nullptr);
  }
  if (record) {
    result = ReleaseFailureReplaces(result, DeviceRecordClose(record));
  }
  return result;
}

VResult DeviceRecordClose(DeviceRecord *pDevice, CloseReason reason) {
  if (!pDevice) {
    return ArgumentNull(L"pDevice");
  }
  // The capture has ended when the wait returns, whatever it gives, so the
  // record can go: keeping it would leak it, since its list entry is gone.
  StopWait wait;
  pDevice->stop.RequestStop(&wait, pDevice->hIdleEvent, nullptr, /*anyCapture=*/true,
                            /*monitorHeldByCaller=*/false);
  const VResult stopped = CaptureStop::AwaitEnd(&wait);
  if (!pDevice->stop.ClaimClose(reason)) {
    return stopped;  // its capture or its creation closes it
  }
  const VResult closed = FinishClose(pDevice);
  return VFailed(stopped) ? stopped : closed;
}

void DeviceRecordFinishHandedOverClose(DeviceRecord *pDevice) {
  // The close belongs to a removal or unplug that has already returned.
  LastErrorKeeper keeper;
  (void)FinishClose(pDevice);
}

VResult V_CALL DeviceRecordProgress(HVBlueFin /*hBlueFin*/, VInt32 /*percent*/, HVImage hImage, void *param) {
  auto *record = static_cast<DeviceRecord *>(param);
  if (record->stop.IsStopRequested()) {
    return 1;  // stops the transfer
  }
  VBiometricStatus status = V_BIOMETRIC_STATUS_NONE;
  const VResult result =
      record->pCaptureCallback(record, record->hCaptureObject, &hImage, 1, &status, record->stop.Param());
  return VFailed(result) ? result : V_OK;
}

}  // namespace vdm
