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
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iostream>
#include <string>

#include "emulator/emulator.h"

namespace emu = bluefin::emu;

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: scanner_peer ADDRESS HOLD_CODE\n");
    return 2;
  }
  const auto holdCode = static_cast<std::uint8_t>(std::atoi(argv[2]));
  bool held = false;
  std::promise<void> release;
  const std::shared_future<void> released = release.get_future().share();
  emu::Options options;
  options.address = argv[1];
  options.observer = [&](const emu::EmulatorEvent &event) {
    if (event.kind != emu::EmulatorEvent::Kind::kCommand || event.command->code != holdCode || held) {
      return;
    }
    held = true;
    std::printf("held\n");
    std::fflush(stdout);
    released.wait();
  };
  emu::Emulator emulator(options);
  std::string error;
  if (!emulator.Start(&error)) {
    std::fprintf(stderr, "scanner_peer: %s\n", error.c_str());
    return 1;
  }
  std::printf("listening\n");
  std::fflush(stdout);

  std::string line;
  std::getline(std::cin, line);  // the first line, or the end
  release.set_value();
  while (std::getline(std::cin, line)) {
  }
  // The module closes its connection before the test ends stdin, so the
  // key seen here is the one the scanner keeps.
  std::printf("key %s\n", emulator.CurrentKey() == emu::kDefaultKey ? "default" : "session");
  std::fflush(stdout);
  emulator.Stop();
  return 0;
}
