// Test-only owning module for the transport's types, until the tests link
// the module's own VdmBlueFinModuleOf: the host's core module stands in.
#include "module/vdm_bluefin_module_of.h"

VResult V_CALL VdmBlueFinModuleOf(HVModule *phModule) {
  return VCoreModuleOf(phModule);
}
