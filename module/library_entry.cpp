// The library entry: process attach registers the module, detach
// unregisters it.
#include "module/vdm_bluefin.h"

#if defined(_WIN32)
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return vdm::VdmBlueFinProcessAttach() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      // A reserved pointer means the process is ending, not an unload.
      vdm::VdmBlueFinProcessDetach(reserved != nullptr);
      return TRUE;
    default:
      return TRUE;
  }
}

#else

// A load constructor cannot refuse the load: a failed registration has been
// reported, and VdmBlueFinModuleOf tries to register again.
__attribute__((constructor)) static void VdmBlueFinLoad() {
  (void)vdm::VdmBlueFinProcessAttach();
}

// Runs at dlclose() and at process exit alike; the framework outlives the
// module in both cases, so unregistering is safe either way.
__attribute__((destructor)) static void VdmBlueFinUnload() {
  vdm::VdmBlueFinProcessDetach(false);
}

#endif
