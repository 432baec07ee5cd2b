/*
 * Reaching the BlueFinDevice record behind a handle. The record starts with
 * the host's base object, so the handle is the record's address.
 */
#ifndef BLUEFIN_DEVICE_ACCESS_H
#define BLUEFIN_DEVICE_ACCESS_H

#include <cstddef>

#include "bluefin/bluefin.h"

namespace bluefin {

static_assert(offsetof(BlueFinDevice, base) == 0);

inline BlueFinDevice *DeviceOf(HVBlueFin hBlueFin) {
  return reinterpret_cast<BlueFinDevice *>(hBlueFin);
}

}  // namespace bluefin

#endif  // BLUEFIN_DEVICE_ACCESS_H
