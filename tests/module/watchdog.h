// A deadlock fails the suite instead of hanging it: the watchdog aborts the
// process, naming what did not end, when a watched step outlives its limit.
#ifndef TESTS_MODULE_WATCHDOG_H
#define TESTS_MODULE_WATCHDOG_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace vdm::test {

class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit = std::chrono::seconds(60))
      : limit_(limit), thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog &) = delete;
  Watchdog &operator=(const Watchdog &) = delete;

  // Starts the time of the next step; what names it in the abort message.
  void Begin(std::string what) {
    std::lock_guard lock(mutex_);
    what_ = std::move(what);
    ++step_;
    changed_.notify_all();
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!done_) {
      const std::uint64_t step = step_;
      if (!changed_.wait_for(lock, limit_, [&] { return done_ || step_ != step; })) {
        std::fprintf(stderr, "watchdog: %s did not end in %lld s: deadlock\n", what_.c_str(),
                     static_cast<long long>(limit_.count()));
        std::fflush(stderr);
        std::abort();
      }
    }
  }

  const std::chrono::seconds limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::string what_ = "the test";
  std::uint64_t step_ = 0;
  std::thread thread_;
};

}  // namespace vdm::test

#endif  // TESTS_MODULE_WATCHDOG_H
