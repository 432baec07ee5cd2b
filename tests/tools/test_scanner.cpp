#include "test_scanner.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace bluefin::tool::test {
namespace {

// Only a hung command ever reaches it.
constexpr std::chrono::seconds kHangGuard{120};

bool Matches(const emu::TranscriptEntry &entry, std::uint8_t code, std::optional<std::uint8_t> argument) {
  return entry.code == code && (!argument || (!entry.arguments.empty() && entry.arguments[0] == *argument));
}

}  // namespace

TestScanner::TestScanner(emu::Options options) : address_(UniqueAddress()) {
  options.address = address_;
  options.observer = [this](const emu::EmulatorEvent &event) { OnEvent(event); };
  emulator_.emplace(std::move(options));
  std::string why;
  EXPECT_TRUE(emulator_->Start(&why)) << why;
}

TestScanner::~TestScanner() {
  Release();
  emulator_->Stop();
}

std::vector<std::string> TestScanner::Command(const std::string &command,
                                              std::vector<std::string> extra) const {
  std::vector<std::string> args = {command, "--emulated", "--address", address_};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

void TestScanner::HoldAnswerTo(emu::Command command, std::optional<std::uint8_t> argument,
                               unsigned occurrence) {
  std::lock_guard lock(mutex_);
  hold_ = std::make_pair(emu::Code(command), argument);
  holdAfter_ = occurrence - 1;
  holding_ = false;
  released_ = false;
}

bool TestScanner::WaitUntilHolding() {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kHangGuard, [this] { return holding_; });
}

void TestScanner::Release() {
  std::lock_guard lock(mutex_);
  released_ = true;
  changed_.notify_all();
}

void TestScanner::OnEvent(const emu::EmulatorEvent &event) {
  if (event.kind != emu::EmulatorEvent::Kind::kCommand) {
    return;
  }
  std::unique_lock lock(mutex_);
  if (!hold_ || !Matches(*event.command, hold_->first, hold_->second)) {
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

std::size_t TestScanner::Count(emu::Command command, std::optional<std::uint8_t> argument) const {
  std::size_t count = 0;
  for (const emu::TranscriptEntry &entry : emulator_->Transcript()) {
    count += Matches(entry, emu::Code(command), argument) ? 1 : 0;
  }
  return count;
}

std::optional<std::chrono::steady_clock::time_point> TestScanner::FirstTime(
    emu::Command command, std::optional<std::uint8_t> argument) const {
  for (const emu::TranscriptEntry &entry : emulator_->Transcript()) {
    if (Matches(entry, emu::Code(command), argument)) {
      return entry.time;
    }
  }
  return std::nullopt;
}

}  // namespace bluefin::tool::test
