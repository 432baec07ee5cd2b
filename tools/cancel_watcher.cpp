#include "tools/cancel_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/interrupts.h"
#include "tools/streams.h"

namespace bluefin::tool {

CancelWatcher::~CancelWatcher() {
  if (thread_.joinable()) {
    stopping_.store(true);
    Wake();
    thread_.join();
  }
  for (int fd : wake_) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

bool CancelWatcher::Start(std::string *error) {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("Cannot create the cancel watcher's pipe: ") + std::strerror(errno);
    return false;
  }
  thread_ = std::thread(&CancelWatcher::Run, this);
  return true;
}

void CancelWatcher::Arm(VDeviceManagerCancelProc cancel, HVDevice device, void *param,
                        std::optional<Clock::time_point> deadline) {
  {
    std::lock_guard lock(mutex_);
    target_ = Target{cancel, device, param, deadline};
    retried_.store(false);
    fingerOn_.store(false);
    timedOut_.store(false);
  }
  Wake();  // the deadline changes the watcher's wait
}

void CancelWatcher::Disarm() {
  std::lock_guard lock(mutex_);
  target_ = Target{};
}

void CancelWatcher::OnCaptureCallback(bool fingerOn) {
  if (fingerOn) {
    fingerOn_.store(true);
  }
  if ((interrupted_.load() || timedOut_.load()) && !retried_.exchange(true)) {
    Wake();
  }
}

void CancelWatcher::SetNotice(std::string notice) {
  std::lock_guard lock(mutex_);
  notice_ = std::move(notice);
}

void CancelWatcher::Wake() {
  const char byte = 1;
  // A full pipe already holds a wake-up; losing this byte loses nothing.
  [[maybe_unused]] const ssize_t written = write(wake_[1], &byte, 1);
}

int CancelWatcher::MillisecondsToDeadline() {
  std::lock_guard lock(mutex_);
  if (target_.cancel == nullptr || !target_.deadline || fingerOn_.load() || timedOut_.load()) {
    return -1;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*target_.deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

void CancelWatcher::CancelLocked() {
  if (target_.cancel != nullptr) {
    // The host's last error of this thread is nobody's business: a cancel
    // that finds no capture (it ended meanwhile) is harmless.
    target_.cancel(target_.device, target_.param);
  }
}

void CancelWatcher::Run() {
  UnblockInterrupts();
  pollfd fds[2] = {{InterruptFd(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
  while (!stopping_.load()) {
    const int ready = poll(fds, 2, MillisecondsToDeadline());
    if (ready < 0) {
      continue;  // EINTR: the handler ran on this thread; the pipe says the rest
    }
    bool interruptNow = false;
    if (fds[0].revents != 0) {
      fds[0].fd = -1;  // the interrupt pipe stays readable: one wake-up is all it gives
      interrupted_.store(true);
      interruptNow = true;
    }
    if (fds[1].revents != 0) {
      char bytes[64];
      while (read(wake_[0], bytes, sizeof(bytes)) > 0) {
      }
    }
    if (stopping_.load()) {
      break;
    }
    std::lock_guard lock(mutex_);
    if (interruptNow && target_.cancel == nullptr && !notice_.empty()) {
      WriteStderr(notice_);
    }
    if (target_.cancel != nullptr && target_.deadline && !fingerOn_.load() && !timedOut_.load() &&
        Clock::now() >= *target_.deadline) {
      timedOut_.store(true);
    }
    if (interrupted_.load() || timedOut_.load()) {
      CancelLocked();
    }
  }
}

}  // namespace bluefin::tool
