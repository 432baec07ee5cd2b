// Call counting, the call log and failure injection behind every counted host call.
#include "calls.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "v_test_controls.h"

namespace vfw::detail {
namespace {

struct FunctionRule {
  std::string name;
  VInt32 nth;
  VResult code;
  bool persistent;
  VInt32 seen;  // calls of the function since the rule was set (or the calls were reset)
};

struct CallControl {
  std::atomic<VUInt64> count{0};
  // Fast path: with neither set, a counted call takes no lock.
  std::atomic<bool> logging{false};
  std::atomic<bool> armed{false};
  std::atomic<bool> hooked{false};

  std::mutex lock;  // guards everything below
  std::vector<const char *> log;
  VUInt64 failAt = 0;
  VResult failCode = 0;
  bool failPersistent = false;
  std::vector<FunctionRule> rules;
  VTestCallHook hook = nullptr;
  void *hookContext = nullptr;

  void Rearm() { armed = failAt != 0 || !rules.empty(); }
};

CallControl &Control() {
  static auto *control = new CallControl;
  return *control;
}

thread_local int tUncountedDepth = 0;

// Which code, if any, the n-th counted call (of the named function) must fail with.
VResult InjectedCode(CallControl &c, const char *name, VUInt64 n) {
  VResult code = V_OK;
  if (c.failAt != 0 && (n == c.failAt || (c.failPersistent && n > c.failAt))) {
    code = c.failCode;
  }
  for (FunctionRule &rule : c.rules) {
    if (rule.name != name) {
      continue;
    }
    ++rule.seen;
    if (VSucceeded(code) && (rule.seen == rule.nth || (rule.persistent && rule.seen > rule.nth))) {
      code = rule.code;
    }
  }
  return code;
}

}  // namespace

UncountedScope::UncountedScope() noexcept {
  ++tUncountedDepth;
}
UncountedScope::~UncountedScope() {
  --tUncountedDepth;
}

bool EnterCountedCall(const char *name, VResult *pInjected) noexcept {
  if (tUncountedDepth > 0) {
    return false;
  }
  CallControl &c = Control();
  const VUInt64 n = c.count.fetch_add(1, std::memory_order_relaxed) + 1;
  if (c.hooked.load(std::memory_order_acquire)) {
    VTestCallHook hook = nullptr;
    void *context = nullptr;
    {
      std::lock_guard lock(c.lock);
      hook = c.hook;
      context = c.hookContext;
    }
    if (hook) {
      hook(name, context);
    }
  }
  if (!c.logging.load(std::memory_order_relaxed) && !c.armed.load(std::memory_order_relaxed)) {
    return false;
  }
  VResult code = V_OK;
  {
    std::lock_guard lock(c.lock);
    if (c.logging) {
      try {
        c.log.push_back(name);
      } catch (const std::bad_alloc &) {
        // A log that misses an entry is still better than failing the call being logged.
      }
    }
    code = InjectedCode(c, name, n);
  }
  if (VSucceeded(code)) {
    return false;
  }
  try {
    SetLastError(code, L"Injected failure in " + WidenLatin1(name));
  } catch (const std::bad_alloc &) {
    SetLastError(code);
  }
  *pInjected = code;
  return true;
}

}  // namespace vfw::detail

using namespace vfw::detail;

V_API void V_CALL VTestFailCall(VUInt64 n, VResult code, VBool persistent) {
  CallControl &c = Control();
  std::lock_guard lock(c.lock);
  c.failAt = n;
  c.failCode = code;
  c.failPersistent = persistent != V_FALSE;
  c.Rearm();
}

V_API void V_CALL VTestFailFunction(const char *szName, VInt32 nth, VResult code, VBool persistent) {
  if (szName == nullptr || nth < 1) {
    return;
  }
  CallControl &c = Control();
  std::lock_guard lock(c.lock);
  c.rules.push_back(FunctionRule{szName, nth, code, persistent != V_FALSE, 0});
  c.Rearm();
}

V_API void V_CALL VTestSetCallHook(VTestCallHook pHook, void *pContext) {
  CallControl &c = Control();
  std::lock_guard lock(c.lock);
  c.hook = pHook;
  c.hookContext = pContext;
  c.hooked.store(pHook != nullptr, std::memory_order_release);
}

V_API void V_CALL VTestClearFailures(void) {
  CallControl &c = Control();
  std::lock_guard lock(c.lock);
  c.failAt = 0;
  c.rules.clear();
  c.Rearm();
}

V_API void V_CALL VTestResetCalls(void) {
  CallControl &c = Control();
  std::lock_guard lock(c.lock);
  c.count = 0;
  c.log.clear();
  for (FunctionRule &rule : c.rules) {
    rule.seen = 0;
  }
}

V_API VUInt64 V_CALL VTestGetCallCount(void) {
  return Control().count.load(std::memory_order_relaxed);
}

V_API void V_CALL VTestSetCallLog(VBool enabled) {
  CallControl &c = Control();
  std::lock_guard lock(c.lock);
  c.logging = enabled != V_FALSE;
}

V_API VInt32 V_CALL VTestGetCallLog(const char **arszNames, VInt32 capacity) {
  CallControl &c = Control();
  std::lock_guard lock(c.lock);
  const auto logged = static_cast<VInt32>(c.log.size());
  for (VInt32 i = 0; arszNames != nullptr && i < capacity && i < logged; ++i) {
    arszNames[i] = c.log[static_cast<std::size_t>(i)];
  }
  return logged;
}
