// Opening and closing device records, stopping a capture, and relaying the
// image transfer's progress to the host.
#include "module/device_record.h"

#include <condition_variable>
#include <mutex>
#include <new>

#include "bluefin/bluefin.h"
#include "module/module_state.h"

namespace vdm {
namespace {

constexpr VUInt32 kIdleStatus = 0;
// A stopper wakes on the idle event; if the capture could not signal it,
// the stopper notices the capture's end at the next slice instead.
constexpr VUInt32 kStopWaitSliceMilliseconds = 50;

// Guards every record's `capturing`. Module-wide rather than per record:
// the capture's last step must not touch the record once a stopper may
// free it, and a lock inside the record would be touched on unlock.
std::mutex captureEndMutex;
std::condition_variable captureEnded;
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

// Waits for the running capture to end once a stop has been requested. The
// host wait is the designed path; whatever it gives, the record is not
// handed back while the capture may still touch it.
VResult StopAndWait(DeviceRecord *record) {
  record->stopRequested.store(1, std::memory_order_release);
  VResult result = V_OK;
  while (DeviceRecordIsCapturing(record)) {
    VBool signalled = V_FALSE;
    result = VWaitObjectWaitForTimed(record->hIdleEvent, kStopWaitSliceMilliseconds, &signalled);
    if (VFailed(result) || signalled) {
      break;
    }
  }
  {
    std::unique_lock lock(captureEndMutex);
    captureEnded.wait(lock, [record] { return !record->capturing; });
  }
  record->stopRequested.store(0, std::memory_order_release);
  return VFailed(result) ? result : V_OK;
}

}  // namespace

void DeviceRecordMarkCapturing(DeviceRecord *record) {
  std::lock_guard lock(captureEndMutex);
  record->capturing = true;
}

void DeviceRecordMarkIdle(DeviceRecord *record) {
  {
    std::lock_guard lock(captureEndMutex);
    record->capturing = false;
  }
  captureEnded.notify_all();
}

bool DeviceRecordIsCapturing(DeviceRecord *record) {
  std::lock_guard lock(captureEndMutex);
  return record->capturing;
}

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
    result = BlueFinSetStatus(hBlueFinDevice, kIdleStatus);
  }
  if (VFailed(result)) {
    VErrorSuppress(result);
  }
  return VSucceeded(result);
}

VResult DeviceRecordOpen(HVBlueFin hBlueFinDevice, DeviceRecord **ppDevice) {
  if (!hBlueFinDevice) {
    return VErrorSetLastW(V_E_ARGUMENT_NULL, L"hBlueFinDevice is NULL", L"hBlueFinDevice", nullptr, nullptr,
                          nullptr);
  }
  if (!ppDevice) {
    return VErrorSetLastW(V_E_ARGUMENT_NULL, L"ppDevice is NULL", L"ppDevice", nullptr, nullptr, nullptr);
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
    const VResult closed = DeviceRecordClose(record);
    if (VFailed(closed)) {
      result = closed;
    }
  }
  return result;
}

VResult DeviceRecordStopCapture(DeviceRecord *record, void *captureParam) {
  if (!DeviceRecordIsCapturing(record) || captureParam != record->pCaptureParam) {
    return V_OK;
  }
  return StopAndWait(record);
}

VResult DeviceRecordClose(DeviceRecord *pDevice) {
  if (!pDevice) {
    return VErrorSetLastW(V_E_ARGUMENT_NULL, L"pDevice is NULL", L"pDevice", nullptr, nullptr, nullptr);
  }
  // The capture has ended when the stop returns, whatever it gives, so the
  // record can go: keeping it would leak it, since its list entry is gone.
  VResult result = DeviceRecordStopCapture(pDevice, pDevice->pCaptureParam);
  if (pDevice->hBlueFinDevice && pDevice->restoreKeyOnClose) {
    // A scanner that no longer answers cannot be given its key back; the
    // record goes all the same and the caller learns of the failure.
    const VResult restored = BlueFinRestoreDefaultKey(pDevice->hBlueFinDevice);
    result = VFailed(result) ? result : restored;
  }
  result = ReleaseInto(result, &pDevice->hBlueFinDevice);
  result = ReleaseInto(result, &pDevice->hCaptureObject);
  result = ReleaseInto(result, &pDevice->hIdleEvent);
  result = ReleaseInto(result, &pDevice->hAddress);
  pDevice->~DeviceRecord();
  VFree(pDevice);
  return VFailed(result) ? result : V_OK;
}

VResult V_CALL DeviceRecordProgress(HVBlueFin /*hBlueFin*/, VInt32 /*percent*/, HVImage hImage, void *param) {
  auto *record = static_cast<DeviceRecord *>(param);
  if (record->stopRequested.load(std::memory_order_acquire)) {
    return 1;  // stops the transfer
  }
  VBiometricStatus status = V_BIOMETRIC_STATUS_NONE;
  const VResult result =
      record->pCaptureCallback(record, record->hCaptureObject, &hImage, 1, &status, record->pCaptureParam);
  return VFailed(result) ? result : V_OK;
}

}  // namespace vdm
