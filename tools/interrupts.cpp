#include "tools/interrupts.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bluefin::tool {
namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Lock-free, so both are safe to touch in the handler.
std::atomic<int> gSignal{0};
std::atomic<int> gWriteFd{-1};
int gReadFd = -1;
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnInterrupt(int signal) {
  int none = 0;
  if (!gSignal.compare_exchange_strong(none, signal)) {
    // The user asked twice: stop waiting for a clean end.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  const int savedErrno = errno;
  const char byte = 1;
  // Non-blocking and written once: it cannot stall the handler.
  [[maybe_unused]] const ssize_t written = write(gWriteFd.load(), &byte, 1);
  errno = savedErrno;
}

sigset_t InterruptSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kInterruptSignals) {
    sigaddset(&set, signal);
  }
  return set;
}

}  // namespace

bool InstallInterruptHandlers(std::string *error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("Cannot create the interrupt pipe: ") + std::strerror(errno);
    return false;
  }
  gReadFd = fds[0];
  gWriteFd.store(fds[1]);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : kInterruptSignals) {
    if (sigaction(signal, &action, nullptr) != 0) {
      *error = std::string("Cannot install the interrupt handler: ") + std::strerror(errno);
      return false;
    }
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (int signal : {SIGPIPE, SIGXFSZ}) {
    if (sigaction(signal, &ignore, nullptr) != 0) {
      *error = std::string("Cannot ignore the write signals: ") + std::strerror(errno);
      return false;
    }
  }
  return true;
}

int InterruptFd() {
  return gReadFd;
}

int InterruptSignal() {
  return gSignal.load();
}

void BlockInterrupts() {
  const sigset_t set = InterruptSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void UnblockInterrupts() {
  const sigset_t set = InterruptSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

int InterruptExitStatus(int signal) {
  return 128 + signal;
}

void EndBySignal(int signal) {
  std::fflush(nullptr);
  if (signal != SIGQUIT) {
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
  }
  _exit(InterruptExitStatus(signal));
}

const char *SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
    default:
      return "a signal";
  }
}

}  // namespace bluefin::tool
