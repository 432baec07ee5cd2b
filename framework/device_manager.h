// The device manager side of the framework (VDevices), for host programs and tests: loads a
// device module library and drives it through its module and plug-in life cycle as a real host
// does. Not thread-safe itself (one host thread drives a DeviceModule), except that the callback
// events may arrive from any thread.
#ifndef VFW_DEVICE_MANAGER_H
#define VFW_DEVICE_MANAGER_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "v_devices.h"

// Exported from VFramework like the C calls of v_types.h.
#if defined(_WIN32)
#if defined(V_FRAMEWORK_BUILD)
#define VFW_EXPORT __declspec(dllexport)
#else
#define VFW_EXPORT __declspec(dllimport)
#endif
#else
#define VFW_EXPORT __attribute__((visibility("default")))
#endif

namespace vfw {

namespace detail {
struct HostSink;
}

// For tests: whether the library at libraryPath is loaded in this process, and an export of a
// loaded one (null when the library is not loaded or has no such export). Neither keeps the
// library loaded.
VFW_EXPORT bool IsLibraryLoaded(const std::string &libraryPath);
VFW_EXPORT void *LoadedLibraryExport(const std::string &libraryPath, const std::string &name);

class VFW_EXPORT DeviceModule {
 public:
  // dlopen()s the library (its load constructor registers the module), looks the module-of export
  // up by name and calls it to take the module. Failures: V_E_FAILED with the dlerror text as
  // message, or the module-of function's own failure; nothing stays loaded after a failure.
  static VResult Load(const std::string &libraryPath, const std::string &moduleOfSymbol,
                      std::unique_ptr<DeviceModule> *out);
  // Best effort: unplug, uninit, release the module and dlclose, in that order, whatever is still
  // up. The calling thread's last error is left as it was.
  ~DeviceModule();
  DeviceModule(const DeviceModule &) = delete;
  DeviceModule &operator=(const DeviceModule &) = delete;

  HVModule Module() const { return module_; }
  // Runs the module's init; on success the module counts as initialised (VModuleCheckInitP).
  VResult Init();
  // Runs the module's uninit (which may call VPluginUnplug); on success with flag 0 the module
  // no longer counts as initialised.
  VResult Uninit(VBool flag = V_FALSE);
  // Makes the plug-in object on first use and calls the module's plug with the module, the
  // version (passed through unchecked), the host callback table and the plug-in.
  VResult Plug(VUInt32 interfaceVersion = V_DEVICE_MANAGER_INTERFACE_VERSION);
  // Calls the module's unplug; on success the plug-in is unplugged. A host may unplug a module it
  // never plugged (the module must refuse or cope), so that is passed through too.
  VResult Unplug();
  // Releases the plug-in and the module and dlclose()s the library, whose unload destructor
  // unregisters the module. The result is the first failure.
  VResult Unload();

  bool IsInitialised() const;
  bool IsPlugged() const;
  // The table of the first registered interface version, or null.
  const VDeviceManagerInterface *Interface() const;
  HVPlugin Plugin() const { return plugin_; }
  const VDeviceManagerCallbacks *Callbacks() const;

  // The callback table's entries 2, 3 and 4 record events and can be told to fail.
  struct Event {
    enum Kind { kAdded, kRemoving, kRemoved } kind;
    HVDevice device;
    HVPlugin plugin;
    void *hostParam;
  };
  // The callback of that kind fails with code from now on (recording the event all the same);
  // 0: it succeeds again.
  void FailCallback(Event::Kind kind, VResult code);
  // Runs inside the callback of that kind, after the event was recorded and
  // on the thread the module called it on, as a host's own callback code
  // would: it may call the module back. Its failure is the callback's
  // result (an injected failure still wins). Null removes it.
  using CallbackAction = std::function<VResult(const Event &event)>;
  void SetCallbackAction(Event::Kind kind, CallbackAction action);
  std::vector<Event> Events() const;
  void ClearEvents();

 private:
  DeviceModule(void *library, HVModule module);

  void *library_;
  HVModule module_;
  HVPlugin plugin_ = nullptr;
  std::shared_ptr<detail::HostSink> sink_;
};

}  // namespace vfw

#endif  // VFW_DEVICE_MANAGER_H
