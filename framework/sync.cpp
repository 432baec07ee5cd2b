// Monitors (recursive locks in caller storage), sync events, waits and thread sleep.
#include "sync.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "calls.h"
#include "objects.h"
#include "test_state.h"

namespace vfw::detail {
namespace {

static_assert(sizeof(VMonitor) >= sizeof(std::recursive_mutex *), "a monitor keeps a pointer to its lock");

struct EventObject : ObjectHeader {
  EventObject(bool manualReset, bool initiallySignalled)
      : ObjectHeader(Type()), isManualReset(manualReset), isSignalled(initiallySignalled) {
    NoteEventCreated();
  }
  ~EventObject() { NoteEventFreed(); }
  static const TypeInfo *Type() {
    static const TypeInfo *type = MakeBuiltinType<EventObject>(L"VSyncEvent");
    return type;
  }

  // Waits up to timeout (negative: for ever) and consumes the signal of an auto-reset event.
  bool Wait(VInt32 timeout) {
    std::unique_lock lock(mutex);
    auto ready = [this] { return isSignalled; };
    bool signalled = true;
    if (timeout < 0) {
      changed.wait(lock, ready);
    } else if (timeout == 0) {
      signalled = isSignalled;
    } else {
      signalled = changed.wait_for(lock, std::chrono::milliseconds(timeout), ready);
    }
    if (signalled && !isManualReset) {
      isSignalled = false;
    }
    return signalled;
  }

  std::mutex mutex;
  std::condition_variable changed;
  const bool isManualReset;
  bool isSignalled;  // guarded by mutex
};

// The lock pointer sits in the caller's storage; several threads may race to make it when the
// caller entered an uninitialised monitor, so it is read and written atomically.
std::atomic_ref<void *> LockSlot(VMonitor *monitor) {
  return std::atomic_ref<void *>(monitor->pReserved[0]);
}

std::recursive_mutex *LockOf(VMonitor *monitor, bool create) {
  auto slot = LockSlot(monitor);
  void *lock = slot.load(std::memory_order_acquire);
  if (lock != nullptr || !create) {
    return static_cast<std::recursive_mutex *>(lock);
  }
  auto *fresh = new std::recursive_mutex;
  void *expected = nullptr;
  if (slot.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) {
    NoteMonitorCreated();
    return fresh;
  }
  delete fresh;
  return static_cast<std::recursive_mutex *>(expected);
}

}  // namespace

VResult ResetWaitObject(HVObject handle) noexcept {
  EventObject *event = nullptr;
  VResult result = Unwrap(handle, L"hObject", &event);
  if (VFailed(result)) {
    return result;
  }
  std::lock_guard lock(event->mutex);
  event->isSignalled = false;
  return V_OK;
}

}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult V_CALL VMonitorInit(VMonitor *pMonitor) {
  if (pMonitor == nullptr) {
    return ArgumentNull(L"pMonitor");
  }
  try {
    LockOf(pMonitor, true);  // initialising a live monitor again keeps its lock
  } catch (const std::bad_alloc &) {
    return ReportOutOfMemory();
  }
  return V_OK;
}

V_API VResult V_CALL VMonitorDispose(VMonitor *pMonitor) {
  if (pMonitor == nullptr) {
    return V_OK;
  }
  void *lock = LockSlot(pMonitor).exchange(nullptr, std::memory_order_acq_rel);
  if (lock != nullptr) {
    delete static_cast<std::recursive_mutex *>(lock);
    NoteMonitorDisposed();
  }
  return V_OK;
}

V_API void V_CALL VMonitorEnter(VMonitor *pMonitor) {
  if (pMonitor == nullptr) {
    return;
  }
  // Entering zero-filled storage makes its lock rather than crash; it still needs a dispose.
  LockOf(pMonitor, true)->lock();
}

V_API void V_CALL VMonitorExit(VMonitor *pMonitor) {
  if (pMonitor == nullptr) {
    return;
  }
  if (std::recursive_mutex *lock = LockOf(pMonitor, false)) {
    lock->unlock();
  }
}

V_API VResult V_CALL VSyncEventTypeOf(HVType *phType) {
  return Counted(__func__, [&] { return HandOutType(EventObject::Type(), phType); });
}

V_API VResult V_CALL VSyncEventCreate(VBool isManualReset, VBool isSignalled, HVSyncEvent *phEvent) {
  return Counted(__func__, [&] {
    if (phEvent == nullptr) {
      return ArgumentNull(L"phEvent");
    }
    *phEvent = ToHandle(NewObject<EventObject>(isManualReset != V_FALSE, isSignalled != V_FALSE));
    return V_OK;
  });
}

V_API VResult V_CALL VSyncEventSet(HVSyncEvent hEvent) {
  return Counted(__func__, [&] {
    EventObject *event = nullptr;
    VResult result = Unwrap(hEvent, L"hEvent", &event);
    if (VFailed(result)) {
      return result;
    }
    // Notified under the lock: a woken waiter may release the last reference to the event as soon
    // as it can take the lock, so nothing may touch the event after the lock is given up.
    // Every waiter re-checks under the lock; an auto-reset event lets exactly one of them through.
    std::lock_guard lock(event->mutex);
    event->isSignalled = true;
    event->changed.notify_all();
    return V_OK;
  });
}

V_API VResult V_CALL VWaitObjectWaitFor(HVObject hWaitObject) {
  return Counted(__func__, [&] {
    EventObject *event = nullptr;
    VResult result = Unwrap(hWaitObject, L"hWaitObject", &event);
    if (VFailed(result)) {
      return result;
    }
    NoteWaitBlocking();
    event->Wait(-1);
    NoteWaitDone();
    return V_OK;
  });
}

V_API VResult V_CALL VWaitObjectWaitForTimed(HVObject hWaitObject, VInt32 timeout, VBool *pSignalled) {
  return Counted(__func__, [&] {
    EventObject *event = nullptr;
    VResult result = Unwrap(hWaitObject, L"hWaitObject", &event);
    if (VFailed(result)) {
      return result;
    }
    if (pSignalled == nullptr) {
      return ArgumentNull(L"pSignalled");
    }
    if (timeout != 0) {
      NoteWaitBlocking();
    }
    *pSignalled = event->Wait(timeout) ? V_TRUE : V_FALSE;
    if (timeout != 0) {
      NoteWaitDone();
    }
    return V_OK;
  });
}

namespace vfw::detail {
namespace {

// Tests that run host programs as child processes cannot install a sleep
// hook; VFW_TEST_SLEEP_DIVISOR shortens every sleep of such a process
// instead. Read once: the environment does not change under a host.
VInt32 SleepDivisor() {
  static const VInt32 divisor = [] {
    const char *text = std::getenv("VFW_TEST_SLEEP_DIVISOR");
    const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
    return value >= 1 && value <= 1000000 ? static_cast<VInt32>(value) : 1;
  }();
  return divisor;
}

}  // namespace
}  // namespace vfw::detail

V_API void V_CALL VThreadSleep(VInt32 milliseconds) {
  if (RunSleepHook(milliseconds)) {
    return;
  }
  if (milliseconds > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds / SleepDivisor()));
  }
}
