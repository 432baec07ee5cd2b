#include "device_manager.h"

#include <array>
#include <mutex>

#include "calls.h"
#include "library_loader.h"
#include "modules.h"

namespace vfw::detail {

// What the host callbacks of one plug-in record; shared with the plug-in object, which outlives
// a DeviceModule when a module keeps a reference to it.
struct HostSink {
  mutable std::mutex lock;  // callbacks may come from any thread
  std::vector<DeviceModule::Event> events;
  std::array<VResult, 3> failures{};
  std::array<DeviceModule::CallbackAction, 3> actions;
};

namespace {

VResult Record(DeviceModule::Event::Kind kind, HVDevice hDevice, HVPlugin hPlugin, void *pHostParam,
               const wchar_t *callbackName) {
  return Shielded([&] {
    PluginObject *plugin = nullptr;
    VResult result = Unwrap(hPlugin, L"hPlugin", &plugin);
    if (VFailed(result)) {
      return result;
    }
    const DeviceModule::Event event{kind, hDevice, hPlugin, pHostParam};
    VResult failure = V_OK;
    DeviceModule::CallbackAction action;
    {
      std::lock_guard lock(plugin->sink->lock);
      plugin->sink->events.push_back(event);
      failure = plugin->sink->failures[kind];
      action = plugin->sink->actions[kind];
    }
    // Outside the lock: the action may call the module, which may call back.
    const VResult acted = action ? action(event) : V_OK;
    if (VFailed(failure)) {
      return SetLastError(failure, std::wstring(L"Injected failure in ") + callbackName);
    }
    return VFailed(acted) ? acted : V_OK;
  });
}

VResult V_CALL OnDeviceAdded(HVDevice hDevice, HVPlugin hPlugin, void *pHostParam) {
  return Record(DeviceModule::Event::kAdded, hDevice, hPlugin, pHostParam, L"OnDeviceAdded");
}

VResult V_CALL OnDeviceRemoving(HVDevice hDevice, HVPlugin hPlugin, void *pHostParam) {
  return Record(DeviceModule::Event::kRemoving, hDevice, hPlugin, pHostParam, L"OnDeviceRemoving");
}

VResult V_CALL OnDeviceRemoved(HVDevice hDevice, HVPlugin hPlugin, void *pHostParam) {
  return Record(DeviceModule::Event::kRemoved, hDevice, hPlugin, pHostParam, L"OnDeviceRemoved");
}

const VDeviceManagerCallbacks kCallbacks = {nullptr, OnDeviceAdded, OnDeviceRemoving, OnDeviceRemoved, {}};

VResult LoaderError(const char *fallback, const std::string &subject) {
  return SetLastError(V_E_FAILED, LastLoaderError(fallback, subject));
}

ModuleObject &ModuleOf(HVModule module) {
  return *static_cast<ModuleObject *>(FromHandle(module));
}

}  // namespace
}  // namespace vfw::detail

namespace vfw {

using namespace detail;

DeviceModule::DeviceModule(void *library, HVModule module)
    : library_(library), module_(module), sink_(std::make_shared<HostSink>()) {}

VResult DeviceModule::Load(const std::string &libraryPath, const std::string &moduleOfSymbol,
                           std::unique_ptr<DeviceModule> *out) {
  return Shielded([&] {
    if (out == nullptr) {
      return ArgumentNull(L"out");
    }
    void *library = LoadSharedLibrary(libraryPath);
    if (library == nullptr) {
      return LoaderError("dlopen failed", libraryPath);
    }
    // Unloading runs the module's unload code, which must not clobber the failure we report.
    auto unload = [library](VResult result) {
      auto saved = SaveLastError();
      UnloadSharedLibrary(library);
      RestoreLastError(std::move(saved));
      return result;
    };
    auto moduleOf = reinterpret_cast<VModuleOfProc>(FindExport(library, moduleOfSymbol));
    if (moduleOf == nullptr) {
      return unload(LoaderError("dlsym failed", moduleOfSymbol));
    }
    HVModule module = nullptr;
    VResult result = moduleOf(&module);
    if (VFailed(result)) {
      DiscardFailedOutput(module);
      return unload(result);
    }
    ObjectHeader *object = nullptr;
    result = CheckHandleOfType(module, ModuleObject::Type(), L"module", &object);
    if (VFailed(result)) {
      if (module != nullptr && FromHandle(module)->magic == kLiveMagic) {
        Release(module);
      }
      return unload(result);
    }
    std::unique_ptr<DeviceModule> loaded;
    try {
      loaded.reset(new DeviceModule(library, module));
    } catch (...) {
      Release(module);
      unload(V_OK);
      throw;
    }
    *out = std::move(loaded);
    return V_OK;
  });
}

DeviceModule::~DeviceModule() {
  auto saved = SaveLastError();
  if (IsPlugged()) {
    Unplug();
  }
  if (IsInitialised()) {
    Uninit(V_FALSE);
  }
  Unload();
  RestoreLastError(std::move(saved));
}

VResult DeviceModule::Init() {
  if (module_ == nullptr) {
    return SetLastError(V_E_INVALID_OPERATION, L"The module is not loaded");
  }
  ModuleObject &module = ModuleOf(module_);
  const VModuleInitProc init = module.GetProcs().init;
  const VResult result = init != nullptr ? init() : V_OK;
  if (VSucceeded(result)) {
    module.initialised = true;
  }
  return result;
}

VResult DeviceModule::Uninit(VBool flag) {
  if (module_ == nullptr) {
    return SetLastError(V_E_INVALID_OPERATION, L"The module is not loaded");
  }
  ModuleObject &module = ModuleOf(module_);
  const VModuleUninitProc uninit = module.GetProcs().uninit;
  const VResult result = uninit != nullptr ? uninit(flag) : V_OK;
  if (VSucceeded(result) && flag == V_FALSE) {
    module.initialised = false;
  }
  return result;
}

VResult DeviceModule::Plug(VUInt32 interfaceVersion) {
  return Shielded([&] {
    if (module_ == nullptr) {
      return SetLastError(V_E_INVALID_OPERATION, L"The module is not loaded");
    }
    const VPluginPlugProc plug = ModuleOf(module_).GetProcs().plug;
    if (plug == nullptr) {
      return SetLastError(V_E_INVALID_OPERATION, L"The module has no plug");
    }
    if (plugin_ == nullptr) {
      plugin_ = ToHandle(NewObject<PluginObject>(module_, sink_));
    }
    const VResult result = plug(module_, interfaceVersion, &kCallbacks, plugin_);
    if (VSucceeded(result)) {
      static_cast<PluginObject *>(FromHandle(plugin_))->plugged = true;
    }
    return result;
  });
}

VResult DeviceModule::Unplug() {
  if (plugin_ != nullptr) {
    return UnplugPlugin(*static_cast<PluginObject *>(FromHandle(plugin_)));
  }
  // Never plugged: a host may still call unplug, and the module must cope.
  if (module_ == nullptr) {
    return SetLastError(V_E_INVALID_OPERATION, L"The module is not loaded");
  }
  const VPluginUnplugProc unplug = ModuleOf(module_).GetProcs().unplug;
  return unplug != nullptr ? unplug() : V_OK;
}

VResult DeviceModule::Unload() {
  VResult result = V_OK;
  for (HVObject *slot : {&plugin_, &module_}) {
    HVObject handle = *slot;
    *slot = nullptr;
    const VResult released = Release(handle);
    if (VFailed(released) && VSucceeded(result)) {
      result = released;
    }
  }
  if (library_ != nullptr) {
    void *library = library_;
    library_ = nullptr;
    if (!UnloadSharedLibrary(library) && VSucceeded(result)) {
      result = LoaderError("dlclose failed", "the module library");
    }
  }
  return result;
}

bool DeviceModule::IsInitialised() const {
  return module_ != nullptr && ModuleOf(module_).initialised;
}

bool DeviceModule::IsPlugged() const {
  return plugin_ != nullptr && static_cast<PluginObject *>(FromHandle(plugin_))->plugged;
}

const VDeviceManagerInterface *DeviceModule::Interface() const {
  if (module_ == nullptr) {
    return nullptr;
  }
  const ModuleObject::Procs procs = ModuleOf(module_).GetProcs();
  if (procs.interfaceVersionCount < 1 || procs.interfaceVersions == nullptr) {
    return nullptr;
  }
  return static_cast<const VDeviceManagerInterface *>(procs.interfaceVersions[0].pInterface);
}

const VDeviceManagerCallbacks *DeviceModule::Callbacks() const {
  return &kCallbacks;
}

void DeviceModule::FailCallback(Event::Kind kind, VResult code) {
  std::lock_guard lock(sink_->lock);
  sink_->failures[kind] = code;
}

void DeviceModule::SetCallbackAction(Event::Kind kind, CallbackAction action) {
  std::lock_guard lock(sink_->lock);
  sink_->actions[kind] = std::move(action);
}

std::vector<DeviceModule::Event> DeviceModule::Events() const {
  std::lock_guard lock(sink_->lock);
  return sink_->events;
}

void DeviceModule::ClearEvents() {
  std::lock_guard lock(sink_->lock);
  sink_->events.clear();
}

}  // namespace vfw
