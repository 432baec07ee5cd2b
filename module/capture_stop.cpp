// The capture's begin and end, its stoppers' waits, and the handover of a
// record's close to whatever still holds it.
#include "module/capture_stop.h"

#include <condition_variable>
#include <mutex>

#include "module/module_state.h"

namespace vdm {

namespace {

// Module-wide rather than per record: a capture's end must not touch a
// lock inside a record that a stopper may free as soon as it wakes.
std::mutex gStopMutex;
std::condition_variable gStopChanged;
// The waits under way, so that a stopper can tell whether its wait would
// come back round to itself. A list of the stoppers' own claims rather
// than thread_local state: on Windows each load of the module would lose
// handles and memory to thread-local storage that its runtime never gives
// back at unload.
StopWait *gWaits = nullptr;

// The capture a thread waits for, if it waits for one.
const CaptureStop *AwaitedBy(std::thread::id thread) {
  for (const StopWait *wait = gWaits; wait; wait = wait->next) {
    if (wait->waiter == thread) {
      return wait->stop;
    }
  }
  return nullptr;
}

// A stopper wakes on the idle event. Signalling it is a host call that can
// fail; then the stopper notices the end at its next slice instead.
constexpr VInt32 kStopWaitSliceMilliseconds = 50;

}  // namespace

VResult CaptureStop::Begin(HVSyncEvent hIdleEvent, void *pCaptureParam) {
  bool capturing = false;
  {
    std::lock_guard lock(gStopMutex);
    capturing = capturing_;
  }
  // Only a begin, always under ModuleMonitor, makes a record capturing, so
  // the answer still holds here.
  if (capturing) {
    return VErrorSetLastW(V_E_INVALID_OPERATION, L"Scanner is already capturing", nullptr, nullptr, nullptr,
                          nullptr);
  }
  const VResult result = VObjectReset(hIdleEvent);
  if (VFailed(result)) {
    return result;
  }
  std::lock_guard lock(gStopMutex);
  pCaptureParam_ = pCaptureParam;
  stopRequested_.store(0, std::memory_order_release);
  capturing_ = true;
  ++generation_;
  thread_ = std::this_thread::get_id();
  return V_OK;
}

bool CaptureStop::End() {
  std::unique_lock lock(gStopMutex);
  capturing_ = false;
  thread_ = std::thread::id();
  gStopChanged.notify_all();
  if (handedOver_ == CloseReason::kNone || adding_) {
    return false;
  }
  gStopChanged.wait(lock, [this] { return waiters_ == 0; });
  return true;
}

// Whether waiting for this capture would wait, through captures whose
// threads wait for one another, for this very thread. No such circle is
// ever closed, so the walk ends.
bool CaptureStop::WouldWaitForItself() const {
  const std::thread::id self = std::this_thread::get_id();
  for (const CaptureStop *stop = this; stop && stop->capturing_;) {
    if (stop->thread_ == self) {
      return true;
    }
    stop = AwaitedBy(stop->thread_);
  }
  return false;
}

void CaptureStop::RequestStop(StopWait *pWait, HVSyncEvent hIdleEvent, const void *pCaptureParam,
                              bool anyCapture, bool monitorHeldByCaller) {
  *pWait = {};
  std::lock_guard lock(gStopMutex);
  if (!capturing_ || (!anyCapture && pCaptureParam != pCaptureParam_)) {
    return;
  }
  stopRequested_.store(1, std::memory_order_release);
  const int ownHold = monitorHeldByCaller ? 1 : 0;
  if (ModuleMonitorDepth() > ownHold || WouldWaitForItself()) {
    return;
  }
  ++waiters_;
  *pWait = {this, hIdleEvent, generation_, std::this_thread::get_id(), gWaits};
  gWaits = pWait;
}

VResult CaptureStop::AwaitEnd(StopWait *pWait) {
  CaptureStop *stop = pWait->stop;
  if (!stop) {
    return V_OK;
  }
  // The host's wait is the designed path; whatever it gives, the stopper
  // goes on only once the capture has ended.
  VResult result = V_OK;
  for (;;) {
    {
      std::lock_guard lock(gStopMutex);
      if (!stop->IsRunning(pWait->generation)) {
        break;
      }
    }
    VBool signalled = V_FALSE;
    const VResult waited = VWaitObjectWaitForTimed(pWait->hIdleEvent, kStopWaitSliceMilliseconds, &signalled);
    if (VFailed(waited)) {
      result = waited;
      break;
    }
    if (signalled) {
      break;
    }
  }
  std::unique_lock lock(gStopMutex);
  gStopChanged.wait(lock, [&] { return !stop->IsRunning(pWait->generation); });
  --stop->waiters_;
  for (StopWait **link = &gWaits; *link; link = &(*link)->next) {
    if (*link == pWait) {
      *link = pWait->next;
      break;
    }
  }
  pWait->stop = nullptr;
  gStopChanged.notify_all();
  return result;
}

void CaptureStop::BeginAdding() {
  std::lock_guard lock(gStopMutex);
  adding_ = true;
}

CloseReason CaptureStop::AddingInterrupted() const {
  std::lock_guard lock(gStopMutex);
  return handedOver_;
}

CloseReason CaptureStop::EndAdding(bool *mustClose) {
  std::unique_lock lock(gStopMutex);
  adding_ = false;
  *mustClose = handedOver_ != CloseReason::kNone && !capturing_;
  if (*mustClose) {
    gStopChanged.wait(lock, [this] { return waiters_ == 0; });
  }
  return handedOver_;
}

bool CaptureStop::ClaimClose(CloseReason reason) {
  std::unique_lock lock(gStopMutex);
  if (adding_ || capturing_) {
    handedOver_ = reason;
    return false;
  }
  gStopChanged.wait(lock, [this] { return waiters_ == 0; });
  return true;
}

}  // namespace vdm
