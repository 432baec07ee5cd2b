// The leak counters and the sleep hook of the test controls.
#include <atomic>
#include <mutex>

#include "memory.h"
#include "test_state.h"
#include "v_test_controls.h"

namespace vfw::detail {
namespace {

std::atomic<VInt64> gLiveMonitors{0};
std::atomic<VInt64> gLiveEvents{0};
std::atomic<VInt64> gErrorReports{0};
std::atomic<VInt64> gBlockingWaits{0};

struct SleepHook {
  std::mutex lock;  // the hook and its context change together
  VTestSleepHook hook = nullptr;
  void *context = nullptr;
};

SleepHook &TheSleepHook() {
  static auto *hook = new SleepHook;
  return *hook;
}

}  // namespace

void NoteErrorReported() noexcept {
  gErrorReports.fetch_add(1, std::memory_order_relaxed);
}
void NoteMonitorCreated() noexcept {
  gLiveMonitors.fetch_add(1, std::memory_order_relaxed);
}
void NoteMonitorDisposed() noexcept {
  gLiveMonitors.fetch_sub(1, std::memory_order_relaxed);
}
void NoteEventCreated() noexcept {
  gLiveEvents.fetch_add(1, std::memory_order_relaxed);
}
void NoteEventFreed() noexcept {
  gLiveEvents.fetch_sub(1, std::memory_order_relaxed);
}

void NoteWaitBlocking() noexcept {
  gBlockingWaits.fetch_add(1, std::memory_order_seq_cst);
}
void NoteWaitDone() noexcept {
  gBlockingWaits.fetch_sub(1, std::memory_order_seq_cst);
}

bool RunSleepHook(VInt32 milliseconds) noexcept {
  SleepHook &s = TheSleepHook();
  VTestSleepHook hook;
  void *context;
  {
    std::lock_guard lock(s.lock);
    hook = s.hook;
    context = s.context;
  }
  if (hook == nullptr) {
    return false;
  }
  hook(milliseconds, context);  // outside the lock: the hook may block or set another hook
  return true;
}

}  // namespace vfw::detail

using namespace vfw::detail;

V_API VInt64 V_CALL VTestGetLiveObjectCount(void) {
  return LiveObjects();
}
V_API VInt64 V_CALL VTestGetOutstandingAllocationCount(void) {
  return OutstandingAllocations();
}
V_API VUInt64 V_CALL VTestGetAllocationTotal(void) {
  return AllocationTotal();
}
V_API VInt64 V_CALL VTestGetLiveMonitorCount(void) {
  return gLiveMonitors.load(std::memory_order_relaxed);
}
V_API VInt64 V_CALL VTestGetBlockedWaitCount(void) {
  return gBlockingWaits.load(std::memory_order_seq_cst);
}

V_API VInt64 V_CALL VTestGetLiveEventCount(void) {
  return gLiveEvents.load(std::memory_order_relaxed);
}
V_API VInt64 V_CALL VTestGetErrorReportCount(void) {
  return gErrorReports.load(std::memory_order_relaxed);
}

V_API void V_CALL VTestSetSleepHook(VTestSleepHook pHook, void *pContext) {
  SleepHook &s = TheSleepHook();
  std::lock_guard lock(s.lock);
  s.hook = pHook;
  s.context = pContext;
}
