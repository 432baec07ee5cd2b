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

#include <atomic>
#include <thread>

namespace vdm {

class CaptureStop;

// Why a record is closed; what a creation interrupted by the close says.
enum class CloseReason : VUInt8 { kNone, kClosed, kRemoved, kUnplugged };

// A stopper's claim on the capture it waits for; the record stays until
// the wait ends. It lives on the stopper's stack and is listed among the
// waits under way from RequestStop to the end of AwaitEnd.
struct StopWait {
  CaptureStop *stop = nullptr;  // null: nothing to wait for
  HVSyncEvent hIdleEvent = nullptr;
  VUInt32 generation = 0;
  std::thread::id waiter;
  StopWait *next = nullptr;
};

// One record's capture as its stoppers and closers see it.
class CaptureStop {
 public:
  // Under ModuleMonitor, with the record found in DeviceList: -7 "Scanner
  // is already capturing" when a capture runs; else the capture named by
  // pCaptureParam runs on this thread from here on, hIdleEvent reset.
  VResult Begin(HVSyncEvent hIdleEvent, void *pCaptureParam);
  // The capture's end: the record is idle and waiting stoppers go on.
  // False: this was the capture's last touch of the record, which a
  // stopper may free from now on. True: the capture was handed the
  // record's close and must finish it.
  bool End();
  // Read by the capture between its steps and at every image part.
  bool IsStopRequested() const { return stopRequested_.load(std::memory_order_acquire) != 0; }
  // The running capture's parameter; for the capturing thread.
  void *Param() const { return pCaptureParam_; }

  // Under ModuleMonitor: asks the running capture to stop, if it is the
  // one named by pCaptureParam (any capture with anyCapture). *pWait names
  // the capture to wait for when this thread may wait for it.
  // monitorHeldByCaller: the caller holds ModuleMonitor once itself and
  // leaves it before waiting.
  void RequestStop(StopWait *pWait, HVSyncEvent hIdleEvent, const void *pCaptureParam, bool anyCapture,
                   bool monitorHeldByCaller);
  // Without ModuleMonitor: waits until the capture of the claim has ended.
  // It has ended on return even when the host's wait failed; that failure
  // is returned.
  static VResult AwaitEnd(StopWait *pWait);

  // Under ModuleMonitor, as the record joins DeviceList.
  void BeginAdding();
  // Whether the record was closed while being added.
  CloseReason AddingInterrupted() const;
  // Creation is done telling the host. The reason a closer handed the
  // close over, if one did; *mustClose: the creation finishes that close.
  CloseReason EndAdding(bool *mustClose);
  // The record's owner wants it closed. True: it closes it now (no capture
  // runs, nobody waits on it any more). False: its capture or its creation
  // holds it and will close it.
  bool ClaimClose(CloseReason reason);

 private:
  bool WouldWaitForItself() const;
  bool IsRunning(VUInt32 generation) const { return capturing_ && generation_ == generation; }

  std::atomic<VUInt32> stopRequested_{0};
  void *pCaptureParam_ = nullptr;
  bool capturing_ = false;
  VUInt32 generation_ = 0;  // counts captures, so a waiter knows its own
  std::thread::id thread_;  // the capturing thread
  int waiters_ = 0;         // stoppers waiting for the capture's end
  bool adding_ = false;     // creation is still telling the host of the record
  CloseReason handedOver_ = CloseReason::kNone;
};

}  // namespace vdm

#endif  // VDM_CAPTURE_STOP_H
