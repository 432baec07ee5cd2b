// The platform socket library's start-up and clean-up, held once for the
// whole module. Plug and unplug call these under ModuleMonitor, which is
// what keeps the flag's check and update together.
#include <v_core.h>

#include "bluetooth/platform/platform.h"
#include "bluetooth/v_bluetooth.h"

namespace {

VBool gIsSocketLibraryStarted = V_FALSE;

}  // namespace

VResult V_CALL VBluetoothSocketStartup(void) {
  if (gIsSocketLibraryStarted) {
    return V_OK;
  }
  vdm::platform::Failure failure;
  if (!vdm::platform::Platform().startup(&failure)) {
    return vdm::platform::RecordFailure(failure);
  }
  gIsSocketLibraryStarted = V_TRUE;
  return V_OK;
}

VResult V_CALL VBluetoothSocketCleanup(void) {
  if (!gIsSocketLibraryStarted) {
    return V_OK;
  }
  vdm::platform::Failure failure;
  if (!vdm::platform::Platform().cleanup(&failure)) {
    return vdm::platform::RecordFailure(failure);
  }
  gIsSocketLibraryStarted = V_FALSE;
  return V_OK;
}
