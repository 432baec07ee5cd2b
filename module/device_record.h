// DeviceRecord: the module's record of one opened scanner. A pointer to it
// is the device handle the host passes back to the device slots; it is valid
// only while the record is an entry of DeviceList.
#ifndef VDM_DEVICE_RECORD_H
#define VDM_DEVICE_RECORD_H

#include <v_core.h>
#include <v_devices.h>

#include <atomic>

#include "bluefin/bluefin.h"

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
  void *pCaptureParam;
  // Written by a stopper under ModuleMonitor, read by the capture thread,
  // which runs without it.
  std::atomic<VUInt32> stopRequested;
  // Whether a capture runs, guarded by the module's capture-end lock. The
  // idle event tells the host and wakes a stopper, but signalling it is a
  // host call that can fail; this flag cannot, so a lost signal never
  // leaves the record capturing for good.
  bool capturing;
};

// Marks the record capturing; call with ModuleMonitor held.
void DeviceRecordMarkCapturing(DeviceRecord *record);
// The capture's very last touch of the record: a stopper may free it as
// soon as this returns.
void DeviceRecordMarkIdle(DeviceRecord *record);
bool DeviceRecordIsCapturing(DeviceRecord *record);

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
// Stops a running capture, puts the scanner back on its default key and
// frees the record. The record is freed even when the scanner no longer
// answers or the wait for the capture failed; that failure is returned.
VResult DeviceRecordClose(DeviceRecord *pDevice);
// Stops the capture named by captureParam and waits for its end; 0 at once
// when no capture, or another one, runs. The capture has ended on return
// even when waiting on the idle event failed; that failure is returned.
VResult DeviceRecordStopCapture(DeviceRecord *record, void *captureParam);
// The progress callback every record installs on its BlueFinDevice.
VResult V_CALL DeviceRecordProgress(HVBlueFin hBlueFin, VInt32 percent, HVImage hImage, void *record);

}  // namespace vdm

#endif  // VDM_DEVICE_RECORD_H
