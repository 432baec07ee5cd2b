// The command run as a script runs it (no stdin, stdout and stderr through
// pipes), a scanner in the test process, and the README's outcomes.
#ifndef BLUEFIN_TESTS_TOOLS_COMMAND_SUPPORT_H
#define BLUEFIN_TESTS_TOOLS_COMMAND_SUPPORT_H

#include <signal.h>
#include <sys/types.h>

#include <gtest/gtest.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/emulator.h"
#include "test_support.h"
#include "tools/json.h"

namespace bluefin::tool::test {

struct ChildResult {
  int exitStatus = -1;  // the exit code; 128 + n when a signal n ended it
  std::string out;
  std::string err;
};

struct ChildOptions {
  std::string program = BLUEFIN_TOOL_PATH;
  // What the command runs through, as a shell would run it: /usr/bin/env,
  // /usr/bin/prlimit, /bin/sh -c to redirect.
  std::vector<std::string> wrapper{};
  bool closeStdout = false;  // nobody reads stdout: writes to it get EPIPE
};

// The module's two-second poll period a hundred times shorter, for runs that
// wait for a finger.
inline ChildOptions FastPolls(ChildOptions options = {}) {
  options.wrapper.insert(options.wrapper.begin(), {"/usr/bin/env", "VFW_TEST_SLEEP_DIVISOR=100"});
  return options;
}

class Child {
 public:
  // Starts the command with args. Fails the current test when it cannot.
  explicit Child(const std::vector<std::string> &args, const ChildOptions &options = {});
  ~Child();  // kills a child still running
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;

  // Reads until the stream (&ChildResult::out or ::err) holds text; false
  // if the streams closed or the hang guard ran out first.
  bool WaitFor(std::string ChildResult::*stream, std::string_view text) {
    return ReadUntil([&] { return (result_.*stream).find(text) != std::string::npos; });
  }
  void Signal(int signal) {
    if (pid_ > 0) {
      kill(pid_, signal);
    }
  }
  // Reads both streams to their end and reaps the child.
  ChildResult Finish();

 private:
  bool ReadUntil(const std::function<bool()> &done);

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  ChildResult result_;
};

inline ChildResult RunBluefin(const std::vector<std::string> &args, const ChildOptions &options = {}) {
  return Child(args, options).Finish();
}

inline std::vector<std::string> Concat(std::vector<std::string> first, const std::vector<std::string> &rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

inline std::vector<std::string> EmulatedCommand(const std::string &address, const std::string &command,
                                                const std::vector<std::string> &extra = {}) {
  return Concat({command, "--emulated", "--address", address}, extra);
}

// Long enough for a sanitizer build on a busy machine; only a hung child or
// command ever reaches it.
inline constexpr std::chrono::seconds kHangGuard{120};

// A scanner in the test process, for runs whose effect on it is the point.
// It can hold its answer to one command until the test lets it go, so that
// a test knows where in the exchange the command is.
class TestScanner {
 public:
  explicit TestScanner(emu::Options options = {}) : address_(UniqueAddress()) {
    options.address = address_;
    options.observer = [this](const emu::EmulatorEvent &event) { OnEvent(event); };
    emulator_.emplace(std::move(options));
    std::string why;
    EXPECT_TRUE(emulator_->Start(&why)) << why;
  }
  ~TestScanner() {  // lets a held answer go, then stops
    Release();
    emulator_->Stop();
  }

  const std::string &Address() const { return address_; }
  emu::Emulator &Emulator() { return *emulator_; }
  std::vector<std::string> Command(const std::string &command,
                                   const std::vector<std::string> &extra = {}) const {
    return EmulatedCommand(address_, command, extra);
  }
  bool OnDefaultKey() const { return emulator_->CurrentKey() == emu::kDefaultKey; }
  std::size_t Armings() const {  // the captures started
    const std::vector<emu::TranscriptEntry> transcript = emulator_->Transcript();
    return std::count_if(transcript.begin(), transcript.end(), [](const emu::TranscriptEntry &entry) {
      return Matches(entry, emu::Command::kSetStatus, emu::kStatusArmed);
    });
  }

  // The answer to the occurrence-th command from now with this code (and
  // first argument byte, when given) waits until Release.
  void HoldAnswerTo(emu::Command command, std::optional<std::uint8_t> argument = std::nullopt,
                    unsigned occurrence = 1) {
    std::lock_guard lock(mutex_);
    hold_ = std::make_pair(command, argument);
    holdAfter_ = occurrence - 1;
    holding_ = released_ = false;
  }
  bool WaitUntilHolding() {  // false after the hang guard
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kHangGuard, [this] { return holding_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  static bool Matches(const emu::TranscriptEntry &entry, emu::Command command,
                      std::optional<std::uint8_t> argument) {
    return entry.code == emu::Code(command) &&
           (!argument || (!entry.arguments.empty() && entry.arguments[0] == *argument));
  }

  void OnEvent(const emu::EmulatorEvent &event) {
    std::unique_lock lock(mutex_);
    if (event.kind != emu::EmulatorEvent::Kind::kCommand || !hold_ ||
        !Matches(*event.command, hold_->first, hold_->second)) {
      return;
    }
    if (holdAfter_ > 0) {
      --holdAfter_;
      return;
    }
    hold_.reset();
    holding_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
  }

  std::string address_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::pair<emu::Command, std::optional<std::uint8_t>>> hold_;
  unsigned holdAfter_ = 0;  // matching commands to let pass first
  bool holding_ = false;
  bool released_ = false;
  std::optional<emu::Emulator> emulator_;
};

// A scanner that answers "ready" after this many polls.
inline emu::Options ReadyAfter(unsigned polls) {
  emu::Options options;
  options.readyAfterPolls = polls;
  return options;
}

// Parts of the command's JSON objects: the scanner's identity, a saved image.
inline JsonObject Identity(const std::string &model = "BF-2000", const std::string &serial = "0BF12345",
                           const std::string &displayName = "TopLink Pacific Device") {
  JsonObject object;
  object.Add("id", "TopLink Pacific " + model + " " + serial).Add("displayName", displayName);
  object.Add("make", "TopLink Pacific").Add("model", model).Add("serialNumber", serial);
  return object;
}

inline JsonObject SavedImage(const std::string &path) {
  return std::move(
      JsonObject().Add("path", path).Add("width", 256).Add("height", 360).Add("resolution", 508.0));
}

// The first column of the README's table of outcomes.
std::vector<std::string> DocumentedOutcomeNames();

// The run exits as the row says (for a signal, as for its name), and its
// stdout has the row's keys and numbers, or is empty where the row says so.
void ExpectDocumented(const std::string &outcome, const ChildResult &run, int signal = 0);

}  // namespace bluefin::tool::test

#endif  // BLUEFIN_TESTS_TOOLS_COMMAND_SUPPORT_H
