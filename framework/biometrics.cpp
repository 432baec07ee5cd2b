#include "v_biometrics.h"

// Only "nothing yet" and "no finger yet" keep a capture going. Every other status, also one this
// framework does not know, ends it: a capture loop must never spin on a status it cannot read.
V_API VBool V_CALL VBiometricStatusIsFinal(VBiometricStatus status) {
  return status == V_BIOMETRIC_STATUS_NONE || status == V_BIOMETRIC_STATUS_OBJECT_MISSING ? V_FALSE : V_TRUE;
}
