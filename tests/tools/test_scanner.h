// A scanner emulated in the test process, for runs of the command whose
// effect on the scanner is the point: the key it is left on, the commands
// it took. It can hold its answer to one command until the test lets it go,
// so that a test knows the command is inside the module's exchange.
#ifndef BLUEFIN_TESTS_TOOLS_TEST_SCANNER_H
#define BLUEFIN_TESTS_TOOLS_TEST_SCANNER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "emulator/emulator.h"

namespace bluefin::tool::test {

class TestScanner {
 public:
  explicit TestScanner(emu::Options options = {});
  ~TestScanner();  // lets a held answer go, then stops
  TestScanner(const TestScanner &) = delete;
  TestScanner &operator=(const TestScanner &) = delete;

  const std::string &Address() const { return address_; }
  emu::Emulator &Emulator() { return *emulator_; }
  // "capture --emulated --address A", then extra.
  std::vector<std::string> Command(const std::string &command, std::vector<std::string> extra = {}) const;

  // The answer to the occurrence-th command from now with this code (and
  // first argument byte, when given) waits until Release.
  void HoldAnswerTo(emu::Command command, std::optional<std::uint8_t> argument = std::nullopt,
                    unsigned occurrence = 1);
  // Waits until an answer is held; false after the hang guard.
  bool WaitUntilHolding();
  void Release();

  bool OnDefaultKey() const { return emulator_->CurrentKey() == emu::kDefaultKey; }
  // The commands taken with this code, and when the first came.
  std::size_t Count(emu::Command command, std::optional<std::uint8_t> argument = std::nullopt) const;
  std::optional<std::chrono::steady_clock::time_point> FirstTime(emu::Command command,
                                                                 std::optional<std::uint8_t> argument) const;

 private:
  void OnEvent(const emu::EmulatorEvent &event);

  std::string address_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::pair<std::uint8_t, std::optional<std::uint8_t>>> hold_;
  unsigned holdAfter_ = 0;  // matching commands to let pass first
  bool holding_ = false;
  bool released_ = false;
  std::optional<emu::Emulator> emulator_;
};

}  // namespace bluefin::tool::test

#endif  // BLUEFIN_TESTS_TOOLS_TEST_SCANNER_H
