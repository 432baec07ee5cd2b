// Automatic capture: arm the scanner, poll it until an image is ready,
// fetch the image with progress, and hand it to the host.
#include <v_biometrics.h>

#include "bluefin/bluefin.h"
#include "module/device_record.h"
#include "module/module_state.h"
#include "module/vdm_bluefin.h"

namespace vdm {
namespace {

constexpr VInt32 kPollPeriodMilliseconds = 2000;
constexpr VUInt32 kArmedStatus = 1;
constexpr VUInt32 kIdleStatus = 0;

VResult CheckCaptureArguments(HVImage *arhImages, VInt32 imagesLength, const VInt32 *pImageCount,
                              const VBiometricStatus *pStatus, VBool isAutomatic) {
  if (!pStatus) {
    return VErrorSetLastW(V_E_ARGUMENT_NULL, L"pStatus is NULL", L"pStatus", nullptr, nullptr, nullptr);
  }
  if (!arhImages) {
    return VErrorSetLastW(V_E_ARGUMENT_NULL, L"arhImages is NULL", L"arhImages", nullptr, nullptr, nullptr);
  }
  if (imagesLength < 1) {
    return VErrorSetLastW(V_E_ARGUMENT, L"imagesLength is insufficient", L"imagesLength", nullptr, nullptr,
                          nullptr);
  }
  if (!pImageCount) {
    return VErrorSetLastW(V_E_ARGUMENT_NULL, L"pImageCount is NULL", L"pImageCount", nullptr, nullptr,
                          nullptr);
  }
  if (!isAutomatic) {
    return VErrorSetLastW(V_E_NOT_SUPPORTED, L"Module does not support non-automatic capturing", nullptr,
                          nullptr, nullptr, nullptr);
  }
  return V_OK;
}

// Under the plug guard: accepts the device and marks it capturing. Only one
// capture runs per record: the busy test and the marking happen under
// ModuleMonitor.
VResult BeginCapture(HVDevice hDevice, VCaptureCallback pCaptureCallback, void *pCaptureParam,
                     DeviceRecord **ppRecord) {
  PlugGuard guard;
  if (VFailed(guard.result())) {
    return guard.result();
  }
  DeviceRecord *record = nullptr;
  VResult result = LookupDevice(hDevice, &record);
  if (VFailed(result)) {
    return result;
  }
  // The flag, not the event, says whether a capture runs: an earlier
  // capture may have failed to signal the event at its end.
  if (DeviceRecordIsCapturing(record)) {
    return VErrorSetLastW(V_E_INVALID_OPERATION, L"Scanner is already capturing", nullptr, nullptr, nullptr,
                          nullptr);
  }
  record->pCaptureCallback = pCaptureCallback;
  record->pCaptureParam = pCaptureParam;
  record->stopRequested.store(0, std::memory_order_release);
  result = VObjectReset(record->hIdleEvent);
  if (VFailed(result)) {
    return result;
  }
  DeviceRecordMarkCapturing(record);
  *ppRecord = record;
  return V_OK;
}

bool IsStopRequested(const DeviceRecord *record) {
  return record->stopRequested.load(std::memory_order_acquire) != 0;
}

// Arms the scanner and polls it until it has an image ready or a stop is
// requested, reporting each poll to the host. *pStatus ends as 0 (ready),
// or 2 (stopped), or as the callback left it.
VResult PollUntilReady(DeviceRecord *record, HVObject hCaptureObject, VBiometricStatus *pStatus) {
  VResult result = BlueFinSetStatus(record->hBlueFinDevice, kArmedStatus);
  while (VSucceeded(result)) {
    VUInt32 ready = 0;
    result = BlueFinGetStatus(record->hBlueFinDevice, nullptr, nullptr, &ready, nullptr);
    if (VFailed(result)) {
      break;
    }
    if (IsStopRequested(record)) {
      *pStatus = V_BIOMETRIC_STATUS_CANCELED;
      break;
    }
    *pStatus = ready ? V_BIOMETRIC_STATUS_NONE : V_BIOMETRIC_STATUS_OBJECT_MISSING;
    HVImage hNoImage = nullptr;
    result = record->pCaptureCallback(record, hCaptureObject, &hNoImage, 1, pStatus, record->pCaptureParam);
    if (VFailed(result) || ready) {
      break;
    }
    VThreadSleep(kPollPeriodMilliseconds);
  }
  return result;
}

}  // namespace

VResult V_CALL VdmBlueFinCapture(HVDevice hDevice, HVObject hCaptureObject, void * /*pArg3*/,
                                 void * /*pArg4*/, void * /*pArg5*/, void * /*pArg6*/, VBool isAutomatic,
                                 void * /*pArg8*/, void * /*pArg9*/, void * /*pArg10*/, HVImage *arhImages,
                                 VInt32 imagesLength, VInt32 *pImageCount, VBiometricStatus *pStatus,
                                 VCaptureCallback pCaptureCallback, void *pCaptureParam) {
  VResult result = CheckCaptureArguments(arhImages, imagesLength, pImageCount, pStatus, isAutomatic);
  if (VFailed(result)) {
    return result;
  }
  DeviceRecord *record = nullptr;
  result = BeginCapture(hDevice, pCaptureCallback, pCaptureParam, &record);
  if (VFailed(result)) {
    return result;
  }

  // From here on the record is capturing and ModuleMonitor is not held: a
  // stopper may hold it while it waits for this capture to end.
  HVImage hImage = nullptr;
  result = VObjectSet(hCaptureObject, &record->hCaptureObject);
  if (VSucceeded(result)) {
    const VBool isCleared = V_FALSE;
    result = VObjectSetPropertyPW(hCaptureObject, L"Fingers.CheckDetectObjectsCleared", VBooleanTypeOf, 0,
                                  &isCleared, sizeof(isCleared), 1, V_TRUE);
  }
  if (VSucceeded(result)) {
    result = PollUntilReady(record, hCaptureObject, pStatus);
  }
  // A callback may have made the status final in the pass that found the
  // image ready; then no image is fetched.
  if (VSucceeded(result) && !VBiometricStatusIsFinal(*pStatus)) {
    result = BlueFinGetImage(record->hBlueFinDevice, &hImage);
    if (VSucceeded(result)) {
      result = BlueFinSetStatus(record->hBlueFinDevice, kIdleStatus);
    }
  }
  // Read before the record goes idle: a stopper may free it right after.
  const bool stopped = IsStopRequested(record);
  const VResult releasedObject = VObjectSet(nullptr, &record->hCaptureObject);
  const VResult signalled = VSyncEventSet(record->hIdleEvent);
  DeviceRecordMarkIdle(record);  // the last touch of the record
  for (VResult step : {releasedObject, signalled}) {
    if (VFailed(step) && VSucceeded(result)) {
      result = step;
    }
  }
  // The image goes out only with a success: a caller told of a failure
  // does not look at arhImages, so it would never release it.
  // A stop that lands after the last part still wins: a stopped capture
  // hands out no image, whenever the stop came.
  if (VSucceeded(result)) {
    if (stopped) {
      *pStatus = V_BIOMETRIC_STATUS_CANCELED;
      arhImages[0] = nullptr;
    } else {
      *pStatus = hImage ? V_BIOMETRIC_STATUS_OK : V_BIOMETRIC_STATUS_NO_IMAGE;
      arhImages[0] = hImage;  // the reference passes to the caller
      hImage = nullptr;
    }
    result = V_OK;
  }
  if (hImage) {
    const VResult releasedImage = VObjectSet(nullptr, &hImage);
    if (VFailed(releasedImage) && VSucceeded(result)) {
      result = releasedImage;
    }
  }
  return result;
}

}  // namespace vdm
