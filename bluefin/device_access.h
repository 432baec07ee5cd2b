/*
 * The record of a "BlueFinDevice" object, private to bluefin/: outside it a
 * device is only its handle. The record starts with the host's base object,
 * so the handle is the record's address.
 */
#ifndef BLUEFIN_DEVICE_ACCESS_H
#define BLUEFIN_DEVICE_ACCESS_H

#include <cstddef>

#include "bluefin/bluefin.h"
#include "bluefin/protocol.h"

struct BlueFinDevice {
  VObjectBase base;
  HVBluetoothSocket hSocket;
  HVString hName;
  HVString hAddress;
  // Set by the first key switch the scanner accepts; the status commands
  // and the image transfer are refused until then.
  VUInt32 isSecureMode;
  VUInt8 defaultKey[vdm::bluefin::kKeySize];
  // The key every frame goes under, in both directions.
  VUInt8 key[vdm::bluefin::kKeySize];
  BlueFinProgressCallback pProgressCallback;
  void *pProgressParam;
};

// The 36-byte base object and eight fields in the 32-bit layout.
static_assert(sizeof(void *) != 4 || sizeof(BlueFinDevice) == 124);
static_assert(offsetof(BlueFinDevice, base) == 0);

namespace vdm::bluefin {

inline BlueFinDevice *DeviceOf(HVBlueFin hBlueFin) {
  return reinterpret_cast<BlueFinDevice *>(hBlueFin);
}

}  // namespace vdm::bluefin

#endif  // BLUEFIN_DEVICE_ACCESS_H
