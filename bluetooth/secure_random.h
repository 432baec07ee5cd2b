/*
 * The platform's cryptographic random source, which the transport reaches
 * through its platform seam, for the layers above it (session keys).
 */
#ifndef VDM_BLUETOOTH_SECURE_RANDOM_H
#define VDM_BLUETOOTH_SECURE_RANDOM_H

#include <v_core.h>

// Fills size bytes at pBuffer from the platform's cryptographic random
// source. A failure is recorded with the platform's code and the failed
// call ("   at getrandom\r\n").
VResult VPlatformSecureRandom(VUInt8 *pBuffer, VUInt32 size);

#endif  // VDM_BLUETOOTH_SECURE_RANDOM_H
