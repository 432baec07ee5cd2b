// DeviceRecord: the module's record of one opened scanner. A pointer to it
// is the device handle the host passes back to the device slots; it is valid
// only while the record is an entry of DeviceList.
#ifndef VDM_DEVICE_RECORD_H
#define VDM_DEVICE_RECORD_H

#include <v_core.h>
#include <v_devices.h>

#include "bluefin/bluefin.h"
#include "module/capture_stop.h"

namespace vdm {

inline constexpr size_t kModelSize = 8;  // 7 narrow characters and a zero

struct DeviceRecord {
  HVString hAddress;
  char model[kModelSize];
  VUInt32 serialNumber;
  HVBlueFin hBlueFinDevice;
  VBool restoreKeyOnClose;
  // The host object of the running capture, referenced while it runs.
  HVObject hCaptureObject;
  // Manual reset, signalled exactly while no capture runs.
  HVSyncEvent hIdleEvent;
  VCaptureCallback pCaptureCallback;
  // Whether a capture runs, its parameter and stop request, who waits for
  // it and who closes the record (capture_stop.h). The idle event tells
  // the host and wakes a stopper, but signalling it is a host call that can
  // fail; this state cannot, so a lost signal never leaves the record
  // capturing for good.
  CaptureStop stop;
  // Unplug's chain of the records it took out of DeviceList.
  DeviceRecord *nextToClose;
};

// Makes a record for a connected BlueFinDevice and runs the opening
// exchange. On success the record has taken over the caller's reference.
// A scanner that does not complete the exchange fails the open with
// V_E_FAILED; the scanner is put back on its default key first when the
// exchange had already switched it.
VResult DeviceRecordOpen(HVBlueFin hBlueFinDevice, DeviceRecord **ppDevice);
// Reads the identity, switches to a fresh key and sets status 0, leaving
// the thread's last error as it found it. keySwitched tells whether the
// scanner took the new key, also when a later step failed.
bool DeviceRecordHandshake(HVBlueFin hBlueFinDevice, DeviceRecord *record, bool *keySwitched);
// Closes a record the caller owns (out of DeviceList, or never in it):
// stops a running capture, puts the scanner back on its default key and
// frees the record. The record is freed even when the scanner no longer
// answers or the wait for the capture failed; that failure is returned.
// A capture this thread cannot wait for, or a creation still telling the
// host of the record, is handed the close instead, and 0 is returned.
VResult DeviceRecordClose(DeviceRecord *pDevice, CloseReason reason = CloseReason::kClosed);
// The close's second half, for the one that was handed it: the key, the
// record's objects and the record itself. The thread's last error is kept.
void DeviceRecordFinishHandedOverClose(DeviceRecord *pDevice);
// The progress callback every record installs on its BlueFinDevice.
VResult V_CALL DeviceRecordProgress(HVBlueFin hBlueFin, VInt32 percent, HVImage hImage, void *record);

}  // namespace vdm

#endif  // VDM_DEVICE_RECORD_H
