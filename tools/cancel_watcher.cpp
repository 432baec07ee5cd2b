#include "tools/cancel_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/interrupts.h"

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

void CancelWatcher::Arm(VDeviceManagerCancelProc cancel, HVDevice device, void *param) {
  std::lock_guard lock(mutex_);
  target_ = Target{cancel, device, param};
  retried_.store(false);
}

void CancelWatcher::Disarm() {
  std::lock_guard lock(mutex_);
  target_ = Target{};
}

void CancelWatcher::OnCaptureCallback() {
  if (interrupted_.load() && !retried_.exchange(true)) {
    Wake();
  }
}

void CancelWatcher::Wake() {
  const char byte = 1;
  // A full pipe already holds a wake-up; losing this byte loses nothing.
  [[maybe_unused]] const ssize_t written = write(wake_[1], &byte, 1);
}

void CancelWatcher::Run() {
  UnblockInterrupts();
  pollfd fds[2] = {{InterruptFd(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
  while (!stopping_.load()) {
    if (poll(fds, 2, -1) < 0) {
      continue;  // EINTR: the handler ran on this thread; the pipe says the rest
    }
    if (fds[0].revents != 0) {
      fds[0].fd = -1;  // the interrupt pipe stays readable: one wake-up is all it gives
      interrupted_.store(true);
    }
    if (fds[1].revents != 0) {
      char bytes[64];
      while (read(wake_[0], bytes, sizeof(bytes)) > 0) {
      }
    }
    if (stopping_.load() || !interrupted_.load()) {
      continue;
    }
    std::lock_guard lock(mutex_);
    if (target_.cancel != nullptr) {
      // The host's last error of this thread is nobody's business: a cancel
      // that finds no capture (it ended meanwhile) is harmless.
      target_.cancel(target_.device, target_.param);
    }
  }
}

}  // namespace bluefin::tool
