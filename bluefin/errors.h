/*
 * Recording failures as the thread's last error, the host's way: the code
 * and the message are recorded first, then the same code is returned.
 */
#ifndef BLUEFIN_ERRORS_H
#define BLUEFIN_ERRORS_H

#include <v_core.h>

namespace bluefin {

inline VResult Fail(VResult code, const wchar_t *szMessage, const wchar_t *szParameterName = nullptr) {
  return VErrorSetLastW(code, szMessage, szParameterName, nullptr, nullptr, nullptr);
}

// A null argument: the message is the parameter's name and " is NULL".
inline VResult FailNull(const wchar_t *szMessage, const wchar_t *szParameterName) {
  return Fail(V_E_ARGUMENT_NULL, szMessage, szParameterName);
}

// A code without a message (an allocation that gave no object).
inline VResult FailBare(VResult code) {
  return VErrorSetLastMPNA(code, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace bluefin

#endif  // BLUEFIN_ERRORS_H
