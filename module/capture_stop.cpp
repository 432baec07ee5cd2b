// The capture's begin and end, its stoppers' waits, and the handover of a
// record's close to whatever still holds it.
#include "module/capture_stop.h"

#include <condition_variable>
#include <mutex>

#include "module/module_state.h"

namespace vdm {

// What a thread waits for, so that a stopper can tell whether its wait
// would come back round to itself.
struct CaptureThread {
  const CaptureStop *awaiting = nullptr;
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
  thread_ = &tThisThread;
  return V_OK;
}

bool CaptureStop::End() {
  std::unique_lock lock(gStopMutex);
  capturing_ = false;
  thread_ = nullptr;
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
  for (const CaptureStop *stop = this; stop && stop->capturing_;) {
    if (stop->thread_ == &tThisThread) {
      return true;
    }
    stop = stop->thread_->awaiting;
  }
  return false;
}

StopWait CaptureStop::RequestStop(HVSyncEvent hIdleEvent, const void *pCaptureParam, bool anyCapture,
                                  bool monitorHeldByCaller) {
  std::lock_guard lock(gStopMutex);
  if (!capturing_ || (!anyCapture && pCaptureParam != pCaptureParam_)) {
    return {};
  }
  stopRequested_.store(1, std::memory_order_release);
  const int ownHold = monitorHeldByCaller ? 1 : 0;
  if (ModuleMonitorDepth() > ownHold || WouldWaitForItself()) {
    return {};
  }
  ++waiters_;
  tThisThread.awaiting = this;
  return {this, hIdleEvent, generation_};
}

VResult CaptureStop::AwaitEnd(const StopWait &wait) {
  CaptureStop *stop = wait.stop;
  if (!stop) {
    return V_OK;
  }
  // The host's wait is the designed path; whatever it gives, the stopper
  // goes on only once the capture has ended.
  VResult result = V_OK;
  for (;;) {
    {
      std::lock_guard lock(gStopMutex);
      if (!stop->IsRunning(wait.generation)) {
        break;
      }
    }
    VBool signalled = V_FALSE;
    const VResult waited = VWaitObjectWaitForTimed(wait.hIdleEvent, kStopWaitSliceMilliseconds, &signalled);
    if (VFailed(waited)) {
      result = waited;
      break;
    }
    if (signalled) {
      break;
    }
  }
  std::unique_lock lock(gStopMutex);
  gStopChanged.wait(lock, [&] { return !stop->IsRunning(wait.generation); });
  --stop->waiters_;
  tThisThread.awaiting = nullptr;
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
