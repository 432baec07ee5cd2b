// Turns Ctrl-C, and a --timeout that runs out before a finger is on the
// scanner, into a cancel of the running capture. The capture blocks the
// thread that called it, and the module's cancel slot waits until the
// capture has ended, so the cancel must come from another thread: this one,
// which also is the only thread that takes the interrupt signals.
#ifndef BLUEFIN_TOOLS_CANCEL_WATCHER_H
#define BLUEFIN_TOOLS_CANCEL_WATCHER_H

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "v_devices.h"

namespace bluefin::tool {

class CancelWatcher {
 public:
  using Clock = std::chrono::steady_clock;

  CancelWatcher() = default;
  ~CancelWatcher();  // Stops the thread.
  CancelWatcher(const CancelWatcher &) = delete;
  CancelWatcher &operator=(const CancelWatcher &) = delete;

  // Starts the thread, which unblocks the interrupt signals for itself.
  bool Start(std::string *error);

  // A capture named by param is about to run on device: an interrupt from
  // now on cancels it through cancel, and so does reaching deadline before
  // the scanner has reported a finger.
  void Arm(VDeviceManagerCancelProc cancel, HVDevice device, void *param,
           std::optional<Clock::time_point> deadline = std::nullopt);
  // The capture has returned. Waits for a cancel call in flight, so that the
  // device can be removed and the module unloaded safely afterwards.
  void Disarm();

  // From the capture's callback, on the capturing thread. An interrupt (or
  // the deadline) that came before the module marked the device as
  // capturing found nothing to cancel; the first callback after it asks for
  // the cancel again, now that it is sure to take. fingerOn ends the
  // deadline's reach: the transfer of an image is never cut short. Never
  // blocks.
  void OnCaptureCallback(bool fingerOn);

  // What to print on stderr if an interrupt comes while nothing can be
  // cancelled yet (the device is being created); empty for nothing.
  void SetNotice(std::string notice);

  // An interrupt signal has come.
  bool Interrupted() const { return interrupted_.load(); }
  // The last armed capture reached its deadline and was cancelled.
  bool TimedOut() const { return timedOut_.load(); }

 private:
  void Run();
  void Wake();
  // The poll timeout until the armed deadline, -1 for none.
  int MillisecondsToDeadline();
  void CancelLocked();

  struct Target {
    VDeviceManagerCancelProc cancel = nullptr;
    HVDevice device = nullptr;
    void *param = nullptr;
    std::optional<Clock::time_point> deadline;
  };

  // Guards target_ and notice_ and is held across a cancel call, so that
  // Disarm cannot return while the slot still runs.
  std::mutex mutex_;
  Target target_;
  std::string notice_;
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> timedOut_{false};
  std::atomic<bool> fingerOn_{false};
  std::atomic<bool> retried_{false};  // the callback has asked again for this capture
  std::atomic<bool> stopping_{false};
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_CANCEL_WATCHER_H
