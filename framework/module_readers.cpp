// Readers of module and plug-in module properties, for host programs. Not counted.
#include "calls.h"
#include "modules.h"
#include "string_objects.h"

using namespace vfw::detail;

namespace {

template <class Read>
VResult ReadModule(HVModule hModule, bool pluginOnly, Read read) {
  return Shielded([&] {
    ModuleObject *module = nullptr;
    VResult result = Unwrap(hModule, L"hModule", &module);
    if (VFailed(result)) {
      return result;
    }
    if (pluginOnly && !IsInstanceOf(module, ModuleObject::PluginType())) {
      return SetLastError(V_E_ARGUMENT, L"hModule is not a plug-in module", L"hModule");
    }
    std::lock_guard lock(module->mutex);
    return read(*module);
  });
}

}  // namespace

V_API VResult V_CALL VModuleGetTextW(HVModule hModule, VModuleText which, HVString *phText) {
  return ReadModule(hModule, false, [&](const ModuleObject &module) {
    if (which < V_MODULE_NAME || which > V_PLUGIN_INCOMPATIBLE_PLUGINS) {
      return SetLastError(V_E_ARGUMENT_OUT_OF_RANGE, L"which is not a module text", L"which");
    }
    if (phText == nullptr) {
      return ArgumentNull(L"phText");
    }
    const auto &text = module.texts[which];
    *phText = text ? NewString(*text) : nullptr;
    return V_OK;
  });
}

V_API VResult V_CALL VModuleGetVersion(HVModule hModule, VInt32 *parVersion4) {
  return ReadModule(hModule, false, [&](const ModuleObject &module) {
    if (parVersion4 == nullptr) {
      return ArgumentNull(L"parVersion4");
    }
    for (std::size_t i = 0; i < module.version.size(); ++i) {
      parVersion4[i] = module.version[i];
    }
    return V_OK;
  });
}

V_API VResult V_CALL VModuleGetOptions(HVModule hModule, VUInt32 *pOptions) {
  return ReadModule(hModule, false, [&](const ModuleObject &module) {
    if (pOptions == nullptr) {
      return ArgumentNull(L"pOptions");
    }
    *pOptions = module.options;
    return V_OK;
  });
}

V_API VResult V_CALL VModuleGetDependences(HVModule hModule, const VModuleOfProc **parpDependences,
                                           VInt32 *pCount) {
  return ReadModule(hModule, false, [&](const ModuleObject &module) {
    if (parpDependences == nullptr) {
      return ArgumentNull(L"parpDependences");
    }
    if (pCount == nullptr) {
      return ArgumentNull(L"pCount");
    }
    *parpDependences = module.dependences.empty() ? nullptr : module.dependences.data();
    *pCount = static_cast<VInt32>(module.dependences.size());
    return V_OK;
  });
}

V_API VResult V_CALL VPluginModuleGetInterfaceVersions(HVModule hModule,
                                                       const VPluginInterfaceVersion **parInterfaceVersions,
                                                       VInt32 *pCount) {
  return ReadModule(hModule, true, [&](const ModuleObject &module) {
    if (parInterfaceVersions == nullptr) {
      return ArgumentNull(L"parInterfaceVersions");
    }
    if (pCount == nullptr) {
      return ArgumentNull(L"pCount");
    }
    *parInterfaceVersions = module.procs.interfaceVersions;
    *pCount = module.procs.interfaceVersionCount;
    return V_OK;
  });
}

V_API VResult V_CALL VPluginModuleGetPriority(HVModule hModule, VInt32 *pValue) {
  return ReadModule(hModule, true, [&](const ModuleObject &module) {
    if (pValue == nullptr) {
      return ArgumentNull(L"pValue");
    }
    *pValue = module.priority;
    return V_OK;
  });
}
