// How a record's capture, the threads that stop it and the threads that
// close the record meet.
//
// The rules:
// - One capture per record. It begins under ModuleMonitor, with the record
//   found in DeviceList, and from then on runs without the monitor.
// - A stopper (cancel, removal, unplug) asks for the stop under the monitor
//   and waits for the capture's end without it: the capture's callbacks run
//   host code that may call any slot, which needs the monitor.
// - A stopper that cannot wait does not: on the capture's own thread, on a
//   thread the capture is itself waiting for (two captures whose callbacks
//   stop each other), or on a thread that holds the monitor further up its
//   stack. It asks for the stop and returns; the capture ends at its next
//   check.
// - A record is closed by whoever owns it once it left DeviceList. If its
//   capture still runs (the closer could not wait) or its creation is still
//   telling the host of it, the close is handed over: the capture's end or
//   the creation's end finishes it.
// - The capture's end is its last touch of the record unless it was handed
//   the close: from then on a stopper may free the record.
//
// All the state below is guarded by one module-wide mutex, never held over
// a host call or a wait for the scanner.
#ifndef VDM_CAPTURE_STOP_H
#define VDM_CAPTURE_STOP_H

#include <v_core.h>
#include <v_devices.h>

namespace vdm {

struct DeviceRecord;
struct CaptureThread;

// Why a record is closed; what a creation interrupted by the close says.
enum class CloseReason : VUInt8 { kNone, kClosed, kRemoved, kUnplugged };

struct CaptureStopState {
  bool capturing = false;
  VUInt32 generation = 0;  // counts captures, so a waiter knows its own
  CaptureThread *thread = nullptr;
  int waiters = 0;      // stoppers waiting for the capture's end
  bool adding = false;  // creation is still telling the host of the record
  CloseReason handedOver = CloseReason::kNone;
};

// A stopper's claim on the capture it waits for; the record stays until
// the wait ends.
struct StopWait {
  DeviceRecord *record = nullptr;  // null: nothing to wait for
  VUInt32 generation = 0;
};

// Under ModuleMonitor, with the record found in DeviceList: -7 "Scanner is
// already capturing" when a capture runs, else the record is capturing on
// this thread, its idle event reset.
VResult CaptureBegin(DeviceRecord *record, VCaptureCallback pCaptureCallback, void *pCaptureParam);
// The capture's end: the record is idle and waiting stoppers go on. True
// when the capture was handed the record's close and must finish it.
bool CaptureEnd(DeviceRecord *record);
// Under ModuleMonitor: asks the running capture to stop, if it is the one
// named by pCaptureParam (any capture with anyCapture). The result names
// the capture to wait for, when this thread may wait for it.
// monitorHeldByCaller: the caller's own hold on ModuleMonitor, which it
// leaves before waiting.
StopWait CaptureRequestStop(DeviceRecord *record, const void *pCaptureParam, bool anyCapture,
                            bool monitorHeldByCaller);
// Without ModuleMonitor: waits until the capture of the claim has ended.
// It has ended on return even when the host's wait failed; that failure
// is returned.
VResult CaptureAwaitEnd(const StopWait &wait);

// Under ModuleMonitor, as the record joins DeviceList.
void RecordBeginAdding(DeviceRecord *record);
// Whether the record was closed while being added.
CloseReason RecordAddingInterrupted(DeviceRecord *record);
// Creation is done telling the host. The reason a closer handed the close
// over, if one did; *mustClose: the creation finishes that close itself.
CloseReason RecordEndAdding(DeviceRecord *record, bool *mustClose);
// The record's owner wants it closed. True: it closes it now (no capture
// runs, nobody waits on it any more). False: its capture or its creation
// holds it and will close it.
bool RecordClaimClose(DeviceRecord *record, CloseReason reason);

}  // namespace vdm

#endif  // VDM_CAPTURE_STOP_H
