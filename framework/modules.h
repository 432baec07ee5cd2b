// Modules, plug-in modules and plug-ins as the framework's module registry and device manager
// see them.
#ifndef VFW_MODULES_H
#define VFW_MODULES_H

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "objects.h"

namespace vfw::detail {

struct ModuleObject : ObjectHeader {
  struct Procs {
    VModuleInitProc init = nullptr;
    VModuleUninitProc uninit = nullptr;
    VPluginPlugProc plug = nullptr;
    VPluginUnplugProc unplug = nullptr;
    const VPluginInterfaceVersion *interfaceVersions = nullptr;
    VInt32 interfaceVersionCount = 0;
  };

  explicit ModuleObject(const TypeInfo *moduleType) : ObjectHeader(moduleType) {}
  static const TypeInfo *Type();        // VModule
  static const TypeInfo *PluginType();  // VPluginModule, derived from VModule

  Procs GetProcs() const {
    std::lock_guard lock(mutex);
    return procs;
  }

  mutable std::mutex mutex;  // guards everything below but `initialised`
  Procs procs;
  VUInt32 options = 0;
  std::vector<VModuleOfProc> dependences;
  std::array<std::optional<std::wstring>, V_PLUGIN_INCOMPATIBLE_PLUGINS + 1> texts;
  std::array<VInt32, 4> version{};
  VInt32 priority = 0;
  bool readOnly = false;  // the framework's own modules
  // Between a successful init and the uninit that follows it (set by the device manager).
  std::atomic<bool> initialised{false};
};

// Hands the host's side of a plug-in (the device manager's event recorder) to the plug-in object
// without this header knowing it.
struct HostSink;

struct PluginObject : ObjectHeader {
  PluginObject(HVModule pluginModule, std::shared_ptr<HostSink> hostSink)
      : ObjectHeader(Type()), module(Share(pluginModule)), sink(std::move(hostSink)) {}
  ~PluginObject() { Release(module); }
  static const TypeInfo *Type();

  const HVModule module;
  const std::shared_ptr<HostSink> sink;
  std::atomic<bool> plugged{false};
};

// The plug-in's unplug: runs the plug-in module's unplug proc and marks the plug-in unplugged
// when it succeeds. Used by VPluginUnplug and the device manager alike.
VResult UnplugPlugin(PluginObject &plugin) noexcept;

}  // namespace vfw::detail

#endif  // VFW_MODULES_H
