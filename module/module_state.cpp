#include "module/module_state.h"

#include "module/device_record.h"
#include "support/errors.h"

#include <mutex>
#include <thread>

namespace vdm {

HVModule ModuleHandle;
std::atomic<VBool> IsModuleInitialized;
VMonitor ModuleMonitor;
HVTraceSource ModuleTraceSource;
VBool IsPlugged;
VUInt16 PluggedInterfaceVersion;
const VDeviceManagerCallbacks *HostCallbacks;
HVPlugin PluginHandle;
VList DeviceList;
bool IsDeviceListInitialized;
VDeviceManagerInterface DeviceManagerInterface;
HVParameterDescriptor *ParameterDescriptors;
VInt32 ParameterDescriptorCount;

namespace {

// Guards the count of uses and the disposal that waits for the last one.
// A plain mutex: it is held for a few instructions and never over a wait.
std::mutex gMonitorUseMutex;
int gMonitorUses = 0;
bool gIsMonitorDisposalPending = false;
// Who holds ModuleMonitor and how often. Only the holder writes them, so
// a thread reads its own depth right: another thread's id never matches.
// Not thread_local: on Windows that costs each load of the module handles
// and memory its runtime never gives back at unload.
std::atomic<std::thread::id> gMonitorOwner;
std::atomic<int> gMonitorDepth{0};

VResult NotInitialized() {
  return VErrorSetLastW(V_E_INVALID_OPERATION, kNotInitializedMessage, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

ModuleUse::ModuleUse() {
  {
    std::lock_guard lock(gMonitorUseMutex);
    using_ = IsModuleInitialized.load(std::memory_order_acquire);
    if (using_) {
      ++gMonitorUses;
    }
  }
  result_ = using_ ? V_OK : NotInitialized();
}

void ModuleUse::Enter() {
  if (using_ && !held_) {
    VMonitorEnter(&ModuleMonitor);
    held_ = true;
    if (gMonitorDepth.fetch_add(1, std::memory_order_relaxed) == 0) {
      gMonitorOwner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
  }
}

void ModuleUse::Exit() {
  if (held_) {
    held_ = false;
    if (gMonitorDepth.fetch_sub(1, std::memory_order_relaxed) == 1) {
      gMonitorOwner.store(std::thread::id(), std::memory_order_relaxed);
    }
    VMonitorExit(&ModuleMonitor);
  }
}

void ModuleUse::Release() {
  Exit();
  if (!using_) {
    return;
  }
  using_ = false;
  std::lock_guard lock(gMonitorUseMutex);
  if (--gMonitorUses == 0 && gIsMonitorDisposalPending) {
    gIsMonitorDisposalPending = false;
    VMonitorDispose(&ModuleMonitor);
  }
}

PlugGuard::PlugGuard() {
  if (VFailed(result())) {
    return;
  }
  Enter();
  if (!IsPlugged) {
    Release();
    Fail(VErrorSetLastW(V_E_INVALID_OPERATION, kNotPluggedMessage, nullptr, nullptr, nullptr, nullptr));
  }
}

int ModuleMonitorDepth() {
  return gMonitorOwner.load(std::memory_order_relaxed) == std::this_thread::get_id()
             ? gMonitorDepth.load(std::memory_order_relaxed)
             : 0;
}

void InitModuleMonitor() {
  std::lock_guard lock(gMonitorUseMutex);
  // A monitor whose disposal waits for its last use is still the live one.
  if (gIsMonitorDisposalPending) {
    gIsMonitorDisposalPending = false;
  } else {
    VMonitorInit(&ModuleMonitor);
  }
  IsModuleInitialized.store(V_TRUE, std::memory_order_release);
}

void RetireModuleMonitor() {
  std::lock_guard lock(gMonitorUseMutex);
  if (!IsModuleInitialized.exchange(V_FALSE, std::memory_order_acq_rel)) {
    return;
  }
  if (gMonitorUses > 0) {
    gIsMonitorDisposalPending = true;
  } else {
    VMonitorDispose(&ModuleMonitor);
  }
}

VResult GetDeviceListRange(DeviceRecord ***pFirst, DeviceRecord ***pEnd) {
  const VResult result = VListGetStart(&DeviceList, sizeof(DeviceRecord *), 0, pFirst);
  return VFailed(result) ? result : VListGetEnd(&DeviceList, sizeof(DeviceRecord *), 0, pEnd);
}

VResult LookupDevice(HVDevice hDevice, DeviceRecord **ppRecord) {
  if (!hDevice) {
    return ArgumentNull(L"hDevice");
  }
  if (IsDeviceListInitialized) {
    DeviceRecord **first = nullptr;
    DeviceRecord **end = nullptr;
    const VResult result = GetDeviceListRange(&first, &end);
    if (VFailed(result)) {
      return result;
    }
    for (DeviceRecord **entry = first; entry && entry != end; ++entry) {
      if (*entry == hDevice) {
        *ppRecord = *entry;
        return V_OK;
      }
    }
  }
  return VErrorSetLastW(V_E_ARGUMENT, L"VdmBlueFin device handle is invalid", nullptr, nullptr, nullptr,
                        nullptr);
}

}  // namespace vdm
