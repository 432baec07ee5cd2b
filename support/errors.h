// Failures recorded the host's way: the code, the message and the name of
// the parameter at fault become the calling thread's last error first, and
// the same code is returned.
#ifndef VDM_SUPPORT_ERRORS_H
#define VDM_SUPPORT_ERRORS_H

#include <v_core.h>

namespace vdm {

inline VResult Fail(VResult code, const wchar_t *szMessage, const wchar_t *szParameterName = nullptr) {
  return VErrorSetLastW(code, szMessage, szParameterName, nullptr, nullptr, nullptr);
}

// A code without a message (an allocation that gave no object).
inline VResult FailBare(VResult code) {
  return VErrorSetLastMPNA(code, nullptr, nullptr, nullptr, nullptr, nullptr);
}

// A null argument: V_E_ARGUMENT_NULL, the message "<name> is NULL" and the
// parameter's name.
VResult ArgumentNull(const wchar_t *szParameterName);

}  // namespace vdm

#endif  // VDM_SUPPORT_ERRORS_H
