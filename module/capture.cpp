// Automatic capture: arm the scanner, poll it until an image is ready,
// fetch the image with progress, and hand it to the host.
#include <v_biometrics.h>

#include "bluefin/bluefin.h"
#include "module/device_record.h"
#include "module/module_state.h"
#include "module/vdm_bluefin.h"
#include "support/errors.h"

namespace vdm {
namespace {

constexpr VInt32 kPollPeriodMilliseconds = 2000;

VResult CheckCaptureArguments(HVImage *arhImages, VInt32 imagesLength, const VInt32 *pImageCount,
                              const VBiometricStatus *pStatus, VBool isAutomatic,
                              VCaptureCallback pCaptureCallback) {
  if (!pStatus) {
    return ArgumentNull(L"pStatus");
  }
  if (!arhImages) {
    return ArgumentNull(L"arhImages");
  }
  if (imagesLength < 1) {
    return VErrorSetLastW(V_E_ARGUMENT, L"imagesLength is insufficient", L"imagesLength", nullptr, nullptr,
                          nullptr);
  }
  if (!pImageCount) {
    return ArgumentNull(L"pImageCount");
  }
  if (!isAutomatic) {
    return VErrorSetLastW(V_E_NOT_SUPPORTED, L"Module does not support non-automatic capturing", nullptr,
                          nullptr, nullptr, nullptr);
  }
  // Every poll reports through the callback: without one the first poll
  // would call through a null pointer.
  if (!pCaptureCallback) {
    return ArgumentNull(L"pCaptureCallback");
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
  result = record->stop.Begin(record->hIdleEvent, pCaptureParam);
  if (VSucceeded(result)) {
    record->pCaptureCallback = pCaptureCallback;
    *ppRecord = record;
  }
  return result;
}

// Arms the scanner and polls it until it has an image ready or a stop is
// requested, reporting each poll to the host. *pStatus ends as 0 (ready),
// or 2 (stopped), or as the callback left it.
VResult PollUntilReady(DeviceRecord *record, HVObject hCaptureObject, VBiometricStatus *pStatus) {
  VResult result = BlueFinSetStatus(record->hBlueFinDevice, BLUEFIN_STATUS_ARMED);
  while (VSucceeded(result)) {
    VUInt32 ready = 0;
    result = BlueFinGetStatus(record->hBlueFinDevice, nullptr, nullptr, &ready, nullptr);
    if (VFailed(result)) {
      break;
    }
    if (record->stop.IsStopRequested()) {
      *pStatus = V_BIOMETRIC_STATUS_CANCELED;
      break;
    }
    *pStatus = ready ? V_BIOMETRIC_STATUS_NONE : V_BIOMETRIC_STATUS_OBJECT_MISSING;
    HVImage hNoImage = nullptr;
    result = record->pCaptureCallback(record, hCaptureObject, &hNoImage, 1, pStatus, record->stop.Param());
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
  VResult result =
      CheckCaptureArguments(arhImages, imagesLength, pImageCount, pStatus, isAutomatic, pCaptureCallback);
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
      result = BlueFinSetStatus(record->hBlueFinDevice, BLUEFIN_STATUS_IDLE);
    }
  }
  result = ReleaseInto(result, &record->hCaptureObject);
  // The outcome is stored before the record goes idle: a stopper returns
  // once it has, and its caller may look at the status at once.
  // The image goes out only with a success: a caller told of a failure
  // does not look at arhImages, so it would never release it. A stop that
  // lands after the last part still wins: a stopped capture hands out no
  // image, whenever the stop came.
  const VBiometricStatus statusBefore = *pStatus;
  const HVImage imageSlotBefore = arhImages[0];
  if (VSucceeded(result)) {
    if (record->stop.IsStopRequested()) {
      *pStatus = V_BIOMETRIC_STATUS_CANCELED;
      arhImages[0] = nullptr;
    } else {
      *pStatus = hImage ? V_BIOMETRIC_STATUS_OK : V_BIOMETRIC_STATUS_NO_IMAGE;
      arhImages[0] = hImage;  // the reference passes to the caller
      hImage = nullptr;
    }
    result = V_OK;
  }
  const VResult signalled = VSyncEventSet(record->hIdleEvent);
  if (VFailed(signalled) && VSucceeded(result)) {
    // Failed after all: the caller gets nothing, the image stays ours.
    result = signalled;
    if (arhImages[0]) {
      hImage = arhImages[0];
    }
    arhImages[0] = imageSlotBefore;
    *pStatus = statusBefore;
  }
  if (record->stop.End()) {
    // Removed or unplugged from a thread that could not wait for us.
    DeviceRecordFinishHandedOverClose(record);
  }
  if (hImage) {
    result = ReleaseInto(result, &hImage);
  }
  return result;
}

}  // namespace vdm
