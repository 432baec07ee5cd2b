// Turns Ctrl-C into a cancel of the running capture. The capture blocks the
// thread that called it, and the module's cancel slot waits until the
// capture has ended, so the cancel must come from another thread: this one,
// which also is the only thread that takes the interrupt signals.
#ifndef BLUEFIN_TOOLS_CANCEL_WATCHER_H
#define BLUEFIN_TOOLS_CANCEL_WATCHER_H

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "v_devices.h"

namespace bluefin::tool {

class CancelWatcher {
 public:
  CancelWatcher() = default;
  ~CancelWatcher();  // Stops the thread.
  CancelWatcher(const CancelWatcher &) = delete;
  CancelWatcher &operator=(const CancelWatcher &) = delete;

  // Starts the thread, which unblocks the interrupt signals for itself.
  bool Start(std::string *error);

  // A capture named by param is about to run on device: an interrupt from
  // now on cancels it through cancel.
  void Arm(VDeviceManagerCancelProc cancel, HVDevice device, void *param);
  // The capture has returned. Waits for a cancel call in flight, so that the
  // device can be removed and the module unloaded safely afterwards.
  void Disarm();

  // From the capture's callback, on the capturing thread. An interrupt that
  // came before the module marked the device as capturing found nothing to
  // cancel; the first callback after it asks for the cancel again, now that
  // it is sure to take. Never blocks.
  void OnCaptureCallback();

  // An interrupt signal has come.
  bool Interrupted() const { return interrupted_.load(); }

 private:
  void Run();
  void Wake();

  struct Target {
    VDeviceManagerCancelProc cancel = nullptr;
    HVDevice device = nullptr;
    void *param = nullptr;
  };

  // Guards target_ and is held across a cancel call, so that Disarm cannot
  // return while the slot still runs.
  std::mutex mutex_;
  Target target_;
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> retried_{false};  // the callback has asked again for this capture
  std::atomic<bool> stopping_{false};
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_CANCEL_WATCHER_H
