// A scanner emulator in a process of its own, for a test whose own process
// must hold nothing of the platform's socket library but what the module
// holds:
//
//   scanner_peer ADDRESS HOLD_CODE
//
// Prints "listening" once it serves ADDRESS, and "held" when a command with
// code HOLD_CODE (decimal) arrives: its answer then waits for a line on
// stdin. At the end of stdin it prints "key default" or "key session",
// whichever key the scanner is on, and exits.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

#include "emulator/emulator.h"

namespace emu = bluefin::emu;

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: scanner_peer ADDRESS HOLD_CODE\n");
    return 2;
  }
  const auto holdCode = static_cast<std::uint8_t>(std::atoi(argv[2]));
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  bool held = false;
  emu::Emulator *scanner = nullptr;

  emu::Options options;
  options.address = argv[1];
  options.shaping.latency = std::chrono::microseconds(1);  // so that the hook is asked
  options.shaping.sleepUntil = [&](std::chrono::steady_clock::time_point) {
    if (held || !scanner) {
      return true;
    }
    const auto transcript = scanner->Transcript();
    if (transcript.empty() || transcript.back().code != holdCode) {
      return true;
    }
    held = true;
    std::printf("held\n");
    std::fflush(stdout);
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return released; });
    return true;
  };
  emu::Emulator emulator(options);
  scanner = &emulator;
  std::string error;
  if (!emulator.Start(&error)) {
    std::fprintf(stderr, "scanner_peer: %s\n", error.c_str());
    return 1;
  }
  std::printf("listening\n");
  std::fflush(stdout);

  std::string line;
  bool first = true;
  while (std::getline(std::cin, line)) {
    if (first) {
      first = false;
      std::lock_guard lock(mutex);
      released = true;
      changed.notify_all();
    }
  }
  {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  // The module closes its connection before the test ends stdin, so the
  // key seen here is the one the scanner keeps.
  std::printf("key %s\n", emulator.CurrentKey() == emu::kDefaultKey ? "default" : "session");
  std::fflush(stdout);
  emulator.Stop();
  return 0;
}
