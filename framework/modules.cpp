// The module registry, module and plug-in module properties, the initialisation check and the
// framework's own modules.
#include "modules.h"

#include <algorithm>

#include "calls.h"
#include "v_biometrics.h"
#include "v_builtin_types.h"
#include "v_devices.h"
#include "v_media.h"

namespace vfw::detail {
namespace {

struct ModuleRegistry {
  std::mutex lock;
  std::vector<HVModule> modules;  // each holds the reference its create callback gave
};

ModuleRegistry &TheModuleRegistry() {
  static auto *registry = new ModuleRegistry;
  return *registry;
}

// One of the framework's own modules: permanent, initialised from the start, read-only.
HVModule BuiltinModule(const wchar_t *name) {
  auto *module = new ModuleObject(ModuleObject::Type());
  module->permanent = 1;
  module->readOnly = true;
  module->initialised = true;
  module->texts[V_MODULE_NAME] = name;
  module->texts[V_MODULE_ID] = name;
  module->version = {9, 0, 0, 0};
  return ToHandle(module);
}

bool IsFrameworkModuleOf(VModuleOfProc moduleOf) {
  static const VModuleOfProc kOwn[] = {VCoreModuleOf, VMediaModuleOf, VMediaProcModuleOf, VDevicesModuleOf,
                                       VBiometricsModuleOf};
  return std::find(std::begin(kOwn), std::end(kOwn), moduleOf) != std::end(kOwn);
}

VResult GiveModule(HVModule module, HVModule *phModule) {
  if (phModule == nullptr) {
    return ArgumentNull(L"phModule");
  }
  *phModule = module;  // permanent: no reference to take
  return V_OK;
}

// Runs a property setter on a module that may be changed.
template <class Update>
VResult UpdateModule(HVModule hModule, bool pluginOnly, Update update) {
  ModuleObject *module = nullptr;
  VResult result = Unwrap(hModule, L"hModule", &module);
  if (VFailed(result)) {
    return result;
  }
  if (pluginOnly && !IsInstanceOf(module, ModuleObject::PluginType())) {
    return SetLastError(V_E_ARGUMENT, L"hModule is not a plug-in module", L"hModule");
  }
  if (module->readOnly) {
    return SetLastError(V_E_INVALID_OPERATION, L"The framework's own modules cannot be changed");
  }
  std::lock_guard lock(module->mutex);
  return update(*module);
}

VResult SetText(HVModule hModule, VModuleText which, const wchar_t *value) {
  const bool pluginText = which >= V_PLUGIN_NAME;
  return UpdateModule(hModule, pluginText, [&](ModuleObject &module) {
    if (value == nullptr) {
      module.texts[which].reset();
    } else {
      module.texts[which] = value;
    }
    return V_OK;
  });
}

VResult SetVersionPart(HVModule hModule, std::size_t part, VInt32 value) {
  return UpdateModule(hModule, false, [&](ModuleObject &module) {
    module.version[part] = value;
    return V_OK;
  });
}

}  // namespace

const TypeInfo *ModuleObject::Type() {
  static const TypeInfo *type = MakeBuiltinType<ModuleObject>(L"VModule");
  return type;
}

const TypeInfo *ModuleObject::PluginType() {
  static const TypeInfo *type = [] {
    auto *t = const_cast<TypeInfo *>(MakeBuiltinType<ModuleObject>(L"VPluginModule"));
    t->base = Type();
    return t;
  }();
  return type;
}

const TypeInfo *PluginObject::Type() {
  static const TypeInfo *type = MakeBuiltinType<PluginObject>(L"VPlugin");
  return type;
}

VResult UnplugPlugin(PluginObject &plugin) noexcept {
  const VPluginUnplugProc unplug = static_cast<ModuleObject *>(FromHandle(plugin.module))->GetProcs().unplug;
  if (unplug == nullptr) {
    return SetLastError(V_E_INVALID_OPERATION, L"The plug-in module has no unplug");
  }
  const VResult result = unplug();
  if (VSucceeded(result)) {
    plugin.plugged = false;
  }
  return result;
}

}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult V_CALL VModuleTypeOf(HVType *phType) {
  return HandOutType(ModuleObject::Type(), phType);
}

V_API VResult V_CALL VPluginModuleTypeOf(HVType *phType) {
  return HandOutType(ModuleObject::PluginType(), phType);
}

V_API VResult V_CALL VPluginTypeOf(HVType *phType) {
  return HandOutType(PluginObject::Type(), phType);
}

V_API VResult V_CALL VCoreModuleOf(HVModule *phModule) {
  return Counted(__func__, [&] {
    static const HVModule module = BuiltinModule(L"VCore");
    return GiveModule(module, phModule);
  });
}

V_API VResult V_CALL VMediaModuleOf(HVModule *phModule) {
  return Counted(__func__, [&] {
    static const HVModule module = BuiltinModule(L"VMedia");
    return GiveModule(module, phModule);
  });
}

V_API VResult V_CALL VMediaProcModuleOf(HVModule *phModule) {
  return Counted(__func__, [&] {
    static const HVModule module = BuiltinModule(L"VMediaProc");
    return GiveModule(module, phModule);
  });
}

V_API VResult V_CALL VDevicesModuleOf(HVModule *phModule) {
  return Counted(__func__, [&] {
    static const HVModule module = BuiltinModule(L"VDevices");
    return GiveModule(module, phModule);
  });
}

V_API VResult V_CALL VBiometricsModuleOf(HVModule *phModule) {
  return Counted(__func__, [&] {
    static const HVModule module = BuiltinModule(L"VBiometrics");
    return GiveModule(module, phModule);
  });
}

V_API VResult V_CALL VModuleRegister(VModuleCreateProc pCreate, HVModule *phModule) {
  return Counted(__func__, [&] {
    if (pCreate == nullptr) {
      return ArgumentNull(L"pCreate");
    }
    if (phModule == nullptr) {
      return ArgumentNull(L"phModule");
    }
    if (*phModule != nullptr) {
      return V_OK;  // the slot already holds a registration
    }
    ModuleRegistry &registry = TheModuleRegistry();
    {
      std::lock_guard lock(registry.lock);
      registry.modules.reserve(registry.modules.size() + 1);  // so that keeping the module cannot fail
    }
    HVModule module = nullptr;
    VResult result = pCreate(&module);
    if (VFailed(result)) {
      DiscardFailedOutput(module);
      return result;
    }
    if (module == nullptr) {
      return SetLastError(V_E_FAILED, L"The module's create callback gave no module");
    }
    ObjectHeader *object = nullptr;
    result = CheckHandleOfType(module, ModuleObject::Type(), L"phModule", &object);
    if (VFailed(result)) {
      Release(module);
      return result;
    }
    std::lock_guard lock(registry.lock);
    registry.modules.push_back(module);
    *phModule = module;
    return V_OK;
  });
}

V_API VResult V_CALL VModuleUnregister(HVModule *phModule) {
  return Counted(__func__, [&] {
    if (phModule == nullptr) {
      return ArgumentNull(L"phModule");
    }
    if (*phModule == nullptr) {
      return V_OK;
    }
    ModuleRegistry &registry = TheModuleRegistry();
    HVModule module = nullptr;
    {
      std::lock_guard lock(registry.lock);
      auto it = std::find(registry.modules.begin(), registry.modules.end(), *phModule);
      if (it == registry.modules.end()) {
        return SetLastError(V_E_ARGUMENT, L"The module is not registered", L"phModule");
      }
      module = *it;
      registry.modules.erase(it);
    }
    *phModule = nullptr;
    return Release(module);
  });
}

V_API VResult V_CALL VModuleCheckInitP(VModuleOfProc pModuleOf, void *) {
  return Counted(__func__, [&] {
    if (pModuleOf == nullptr) {
      return ArgumentNull(L"pModuleOf");
    }
    HVModule handle = nullptr;
    VResult result;
    if (IsFrameworkModuleOf(pModuleOf)) {
      UncountedScope uncounted;
      result = pModuleOf(&handle);
    } else {
      result = pModuleOf(&handle);
    }
    if (VFailed(result)) {
      DiscardFailedOutput(handle);
      return result;
    }
    ModuleObject *module = nullptr;
    result = Unwrap(handle, L"pModuleOf", &module);
    if (VSucceeded(result) && !module->initialised) {
      result = SetLastError(V_E_INVALID_OPERATION, L"Module is not initialized");
    }
    if (handle != nullptr) {
      const VResult released = Release(handle);
      if (VFailed(released) && VSucceeded(result)) {
        result = released;
      }
    }
    return result;
  });
}

V_API VResult V_CALL VModuleSetOptions(HVModule hModule, VUInt32 options) {
  return Counted(__func__, [&] {
    return UpdateModule(hModule, false, [&](ModuleObject &module) {
      module.options = options;
      return V_OK;
    });
  });
}

V_API VResult V_CALL VModuleSetDependences(HVModule hModule, const VModuleOfProc *arpDependences,
                                           VInt32 count) {
  return Counted(__func__, [&] {
    if (count < 0) {
      return SetLastError(V_E_ARGUMENT_OUT_OF_RANGE, L"count is negative", L"count");
    }
    if (arpDependences == nullptr && count > 0) {
      return ArgumentNull(L"arpDependences");
    }
    return UpdateModule(hModule, false, [&](ModuleObject &module) {
      module.dependences.assign(arpDependences, arpDependences + count);
      return V_OK;
    });
  });
}

V_API VResult V_CALL VModuleSetInit(HVModule hModule, VModuleInitProc pInit) {
  return Counted(__func__, [&] {
    return UpdateModule(hModule, false, [&](ModuleObject &module) {
      module.procs.init = pInit;
      return V_OK;
    });
  });
}

V_API VResult V_CALL VModuleSetUninit(HVModule hModule, VModuleUninitProc pUninit) {
  return Counted(__func__, [&] {
    return UpdateModule(hModule, false, [&](ModuleObject &module) {
      module.procs.uninit = pUninit;
      return V_OK;
    });
  });
}

V_API VResult V_CALL VModuleSetNameW(HVModule hModule, const wchar_t *szValue) {
  return Counted(__func__, [&] { return SetText(hModule, V_MODULE_NAME, szValue); });
}
V_API VResult V_CALL VModuleSetTitleW(HVModule hModule, const wchar_t *szValue) {
  return Counted(__func__, [&] { return SetText(hModule, V_MODULE_TITLE, szValue); });
}
V_API VResult V_CALL VModuleSetProductW(HVModule hModule, const wchar_t *szValue) {
  return Counted(__func__, [&] { return SetText(hModule, V_MODULE_PRODUCT, szValue); });
}
V_API VResult V_CALL VModuleSetCompanyW(HVModule hModule, const wchar_t *szValue) {
  return Counted(__func__, [&] { return SetText(hModule, V_MODULE_COMPANY, szValue); });
}
V_API VResult V_CALL VModuleSetCopyrightW(HVModule hModule, const wchar_t *szValue) {
  return Counted(__func__, [&] { return SetText(hModule, V_MODULE_COPYRIGHT, szValue); });
}
V_API VResult V_CALL VModuleSetIdW(HVModule hModule, const wchar_t *szValue) {
  return Counted(__func__, [&] { return SetText(hModule, V_MODULE_ID, szValue); });
}
V_API VResult V_CALL VModuleSetNativeIdW(HVModule hModule, const wchar_t *szValue) {
  return Counted(__func__, [&] { return SetText(hModule, V_MODULE_NATIVE_ID, szValue); });
}
V_API VResult V_CALL VModuleSetVersionMajor(HVModule hModule, VInt32 value) {
  return Counted(__func__, [&] { return SetVersionPart(hModule, 0, value); });
}
V_API VResult V_CALL VModuleSetVersionMinor(HVModule hModule, VInt32 value) {
  return Counted(__func__, [&] { return SetVersionPart(hModule, 1, value); });
}
V_API VResult V_CALL VModuleSetVersionBuild(HVModule hModule, VInt32 value) {
  return Counted(__func__, [&] { return SetVersionPart(hModule, 2, value); });
}
V_API VResult V_CALL VModuleSetVersionRevision(HVModule hModule, VInt32 value) {
  return Counted(__func__, [&] { return SetVersionPart(hModule, 3, value); });
}

V_API VResult V_CALL VPluginModuleCreate(HVModule *phModule) {
  return Counted(__func__, [&] {
    if (phModule == nullptr) {
      return ArgumentNull(L"phModule");
    }
    *phModule = ToHandle(NewObject<ModuleObject>(ModuleObject::PluginType()));
    return V_OK;
  });
}

V_API VResult V_CALL VPluginModuleSetPluginNameW(HVModule hModule, const wchar_t *szValue) {
  return Counted(__func__, [&] { return SetText(hModule, V_PLUGIN_NAME, szValue); });
}
V_API VResult V_CALL VPluginModuleSetInterfaceTypeW(HVModule hModule, const wchar_t *szValue) {
  return Counted(__func__, [&] { return SetText(hModule, V_PLUGIN_INTERFACE_TYPE, szValue); });
}
V_API VResult V_CALL VPluginModuleSetIncompatiblePluginsW(HVModule hModule, const wchar_t *szValue) {
  return Counted(__func__, [&] { return SetText(hModule, V_PLUGIN_INCOMPATIBLE_PLUGINS, szValue); });
}

V_API VResult V_CALL VPluginModuleSetPriority(HVModule hModule, VInt32 value) {
  return Counted(__func__, [&] {
    return UpdateModule(hModule, true, [&](ModuleObject &module) {
      module.priority = value;
      return V_OK;
    });
  });
}

V_API VResult V_CALL VPluginModuleSetPlug(HVModule hModule, VPluginPlugProc pPlug) {
  return Counted(__func__, [&] {
    return UpdateModule(hModule, true, [&](ModuleObject &module) {
      module.procs.plug = pPlug;
      return V_OK;
    });
  });
}

V_API VResult V_CALL VPluginModuleSetUnplug(HVModule hModule, VPluginUnplugProc pUnplug) {
  return Counted(__func__, [&] {
    return UpdateModule(hModule, true, [&](ModuleObject &module) {
      module.procs.unplug = pUnplug;
      return V_OK;
    });
  });
}

V_API VResult V_CALL VPluginModuleSetInterfaceVersions(HVModule hModule,
                                                       const VPluginInterfaceVersion *arInterfaceVersions,
                                                       VInt32 count) {
  return Counted(__func__, [&] {
    if (count < 0) {
      return SetLastError(V_E_ARGUMENT_OUT_OF_RANGE, L"count is negative", L"count");
    }
    if (arInterfaceVersions == nullptr && count > 0) {
      return ArgumentNull(L"arInterfaceVersions");
    }
    return UpdateModule(hModule, true, [&](ModuleObject &module) {
      module.procs.interfaceVersions = count > 0 ? arInterfaceVersions : nullptr;
      module.procs.interfaceVersionCount = count;
      return V_OK;
    });
  });
}

V_API VResult V_CALL VPluginUnplug(HVPlugin hPlugin) {
  return Counted(__func__, [&] {
    PluginObject *plugin = nullptr;
    VResult result = Unwrap(hPlugin, L"hPlugin", &plugin);
    return VFailed(result) ? result : UnplugPlugin(*plugin);
  });
}
