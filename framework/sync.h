// Sync events as the rest of the framework reaches them.
#ifndef VFW_SYNC_H
#define VFW_SYNC_H

#include "v_core.h"

namespace vfw::detail {

// Resets a sync event to non-signalled; records V_E_ARGUMENT for any other object.
VResult ResetWaitObject(HVObject handle) noexcept;

}  // namespace vfw::detail

#endif  // VFW_SYNC_H
