// The capture's begin and end, its stoppers' waits, and the handover of a
// record's close to whatever still holds it.
#include "module/capture_stop.h"

#include <condition_variable>
#include <mutex>

#include "module/device_record.h"
#include "module/module_state.h"

namespace vdm {

// What a thread waits for, so that a stopper can tell whether its wait
// would come back round to itself.
struct CaptureThread {
  DeviceRecord *awaiting = nullptr;
};

namespace {

// Module-wide rather than per record: a capture's end must not touch a
// lock inside a record that a stopper may free as soon as it wakes.
std::mutex gStopMutex;
std::condition_variable gStopChanged;
thread_local CaptureThread tThisThread;

// A stopper wakes on the idle event. Signalling it is a host call that can
// fail; then the stopper notices the end at its next slice instead.
constexpr VInt32 kStopWaitSliceMilliseconds = 50;

bool IsRunning(const DeviceRecord *record, VUInt32 generation) {
  return record->stop.capturing && record->stop.generation == generation;
}

// Whether waiting for the record's capture would wait, through captures
// whose threads wait for one another, for this very thread. No such circle
// is ever closed, so the walk ends.
bool WouldWaitForItself(const DeviceRecord *record) {
  for (const DeviceRecord *r = record; r && r->stop.capturing;) {
    const CaptureThread *owner = r->stop.thread;
    if (owner == &tThisThread) {
      return true;
    }
    r = owner->awaiting;
  }
  return false;
}

}  // namespace

VResult CaptureBegin(DeviceRecord *record, VCaptureCallback pCaptureCallback, void *pCaptureParam) {
  bool capturing = false;
  {
    std::lock_guard lock(gStopMutex);
    capturing = record->stop.capturing;
  }
  // Only a begin, always under ModuleMonitor, makes a record capturing, so
  // the answer still holds here.
  if (capturing) {
    return VErrorSetLastW(V_E_INVALID_OPERATION, L"Scanner is already capturing", nullptr, nullptr, nullptr,
                          nullptr);
  }
  const VResult result = VObjectReset(record->hIdleEvent);
  if (VFailed(result)) {
    return result;
  }
  std::lock_guard lock(gStopMutex);
  record->pCaptureCallback = pCaptureCallback;
  record->pCaptureParam = pCaptureParam;
  record->stopRequested.store(0, std::memory_order_release);
  record->stop.capturing = true;
  ++record->stop.generation;
  record->stop.thread = &tThisThread;
  return V_OK;
}

bool CaptureEnd(DeviceRecord *record) {
  std::unique_lock lock(gStopMutex);
  CaptureStopState &stop = record->stop;
  stop.capturing = false;
  stop.thread = nullptr;
  gStopChanged.notify_all();
  if (stop.handedOver == CloseReason::kNone || stop.adding) {
    return false;  // the last touch of the record
  }
  gStopChanged.wait(lock, [&stop] { return stop.waiters == 0; });
  return true;
}

StopWait CaptureRequestStop(DeviceRecord *record, const void *pCaptureParam, bool anyCapture,
                            bool monitorHeldByCaller) {
  std::lock_guard lock(gStopMutex);
  CaptureStopState &stop = record->stop;
  if (!stop.capturing || (!anyCapture && pCaptureParam != record->pCaptureParam)) {
    return {};
  }
  record->stopRequested.store(1, std::memory_order_release);
  const int ownHold = monitorHeldByCaller ? 1 : 0;
  if (ModuleMonitorDepth() > ownHold || WouldWaitForItself(record)) {
    return {};
  }
  ++stop.waiters;
  tThisThread.awaiting = record;
  return {record, stop.generation};
}

VResult CaptureAwaitEnd(const StopWait &wait) {
  if (!wait.record) {
    return V_OK;
  }
  DeviceRecord *record = wait.record;
  // The host's wait is the designed path; whatever it gives, the stopper
  // goes on only once the capture has ended.
  VResult result = V_OK;
  for (;;) {
    {
      std::lock_guard lock(gStopMutex);
      if (!IsRunning(record, wait.generation)) {
        break;
      }
    }
    VBool signalled = V_FALSE;
    const VResult waited =
        VWaitObjectWaitForTimed(record->hIdleEvent, kStopWaitSliceMilliseconds, &signalled);
    if (VFailed(waited)) {
      result = waited;
      break;
    }
    if (signalled) {
      break;
    }
  }
  std::unique_lock lock(gStopMutex);
  gStopChanged.wait(lock, [&] { return !IsRunning(record, wait.generation); });
  --record->stop.waiters;
  tThisThread.awaiting = nullptr;
  gStopChanged.notify_all();
  return result;
}

void RecordBeginAdding(DeviceRecord *record) {
  std::lock_guard lock(gStopMutex);
  record->stop.adding = true;
}

CloseReason RecordAddingInterrupted(DeviceRecord *record) {
  std::lock_guard lock(gStopMutex);
  return record->stop.handedOver;
}

CloseReason RecordEndAdding(DeviceRecord *record, bool *mustClose) {
  std::unique_lock lock(gStopMutex);
  CaptureStopState &stop = record->stop;
  stop.adding = false;
  *mustClose = stop.handedOver != CloseReason::kNone && !stop.capturing;
  if (*mustClose) {
    gStopChanged.wait(lock, [&stop] { return stop.waiters == 0; });
  }
  return stop.handedOver;
}

bool RecordClaimClose(DeviceRecord *record, CloseReason reason) {
  std::unique_lock lock(gStopMutex);
  CaptureStopState &stop = record->stop;
  if (stop.adding || stop.capturing) {
    stop.handedOver = reason;
    return false;
  }
  gStopChanged.wait(lock, [&stop] { return stop.waiters == 0; });
  return true;
}

}  // namespace vdm
