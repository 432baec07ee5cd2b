/*
 * The host's biometrics library (VBiometrics): biometric status codes.
 */
#ifndef V_BIOMETRICS_H
#define V_BIOMETRICS_H

#include "v_core.h"

V_BEGIN_DECLS

typedef VInt32 VBiometricStatus;

#define V_BIOMETRIC_STATUS_NONE 0            /* nothing final yet; an image is ready */
#define V_BIOMETRIC_STATUS_OK 1              /* an image was captured */
#define V_BIOMETRIC_STATUS_CANCELED 2        /* the capture was stopped */
#define V_BIOMETRIC_STATUS_OBJECT_MISSING 22 /* no finger on the scanner yet */
#define V_BIOMETRIC_STATUS_NO_IMAGE 23       /* the capture ended without an image */

V_API VResult V_CALL VBiometricsModuleOf(HVModule *phModule);
/* Non-zero when the status ends a capture. 0 and 22 are not final; 1, 2
 * and 23 are. */
V_API VBool V_CALL VBiometricStatusIsFinal(VBiometricStatus status);

V_END_DECLS

#endif /* V_BIOMETRICS_H */
