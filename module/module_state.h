// Module-wide state of the plug-in, and the guard every device slot passes.
//
// ModuleMonitor is the module's one host lock: it guards the plug state and
// DeviceList. IsModuleInitialized is read without it (init and uninit do not
// take it), so it is atomic.
#ifndef VDM_MODULE_STATE_H
#define VDM_MODULE_STATE_H

#include <v_core.h>
#include <v_devices.h>

#include <atomic>

#include "support/results.h"

namespace vdm {

struct DeviceRecord;

inline constexpr wchar_t kMake[] = L"TopLink Pacific";
inline constexpr wchar_t kTraceSourceName[] = L"Devices.BlueFin";
inline constexpr wchar_t kNotInitializedMessage[] = L"VdmBlueFin is not initialized";
inline constexpr wchar_t kNotPluggedMessage[] = L"VdmBlueFin is not plugged";
// The only interface major version whose callback table the module knows.
inline constexpr VUInt32 kSupportedMajorVersion = 1;

extern HVModule ModuleHandle;
extern std::atomic<VBool> IsModuleInitialized;
extern VMonitor ModuleMonitor;
extern HVTraceSource ModuleTraceSource;
extern VBool IsPlugged;
extern VUInt16 PluggedInterfaceVersion;
extern const VDeviceManagerCallbacks *HostCallbacks;
extern HVPlugin PluginHandle;
// DeviceList holds DeviceRecord pointers. IsDeviceListInitialized tells
// whether a plug initialised it and no unplug disposed it since: a plug that
// failed early leaves the module plugged with no list to read.
extern VList DeviceList;
extern bool IsDeviceListInitialized;
extern VDeviceManagerInterface DeviceManagerInterface;
extern HVParameterDescriptor *ParameterDescriptors;
extern VInt32 ParameterDescriptorCount;

inline VUInt32 MajorVersion(VUInt32 interfaceVersion) {
  return (interfaceVersion >> 8) & 0xFF;
}

// Keeps ModuleMonitor in being while a thread uses it. Module uninit
// disposes the monitor only once no thread is inside a call that uses it,
// so a slot or a device creation racing uninit never enters a disposed
// monitor; uninit itself never waits for them.
class ModuleUse {
 public:
  // Fails with "VdmBlueFin is not initialized", and uses nothing, when the
  // module is not initialised.
  ModuleUse();
  ~ModuleUse() { Release(); }
  ModuleUse(const ModuleUse &) = delete;
  ModuleUse &operator=(const ModuleUse &) = delete;

  VResult result() const { return result_; }
  // Enter and leave ModuleMonitor; only while the use holds.
  void Enter();
  void Exit();
  // Leaves the monitor if held and gives the use up.
  void Release();

 protected:
  void Fail(VResult failure) { result_ = failure; }

 private:
  VResult result_;
  bool using_ = false;
  bool held_ = false;
};

// The plug guard every device slot passes: not initialised fails without
// taking the monitor; otherwise the monitor is held from here to the end of
// the scope (or Release), and not plugged fails and leaves it again.
class PlugGuard : public ModuleUse {
 public:
  PlugGuard();
};

// How often this thread holds ModuleMonitor, through the module's calls on
// its stack (a host callback made under the monitor may call the module
// again). A thread that holds it must not wait for another thread that may
// need it.
int ModuleMonitorDepth();

// Module init and uninit's side of ModuleUse.
void InitModuleMonitor();
void RetireModuleMonitor();

// The entries of DeviceList: *pFirst is null when it has none. Call with
// ModuleMonitor held and the list initialised.
VResult GetDeviceListRange(DeviceRecord ***pFirst, DeviceRecord ***pEnd);

// Accepts hDevice only if it is an entry of DeviceList. Call with
// ModuleMonitor held (after the plug guard).
VResult LookupDevice(HVDevice hDevice, DeviceRecord **ppRecord);

}  // namespace vdm

#endif  // VDM_MODULE_STATE_H
