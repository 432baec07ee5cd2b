// The link broken at every exchange of a device's life: creation, capture
// (each command and each image part) and removal. Each break gives the
// layers' code and message, leaves the device idle and removable, and a
// fresh device on the same scanner captures the right image afterwards.
// Every case runs on its own scanner.
#include <algorithm>
#include <atomic>
#include <iostream>
#include <thread>

#include "device_fixture.h"

namespace vdm::test {
namespace {

using emu::Fault;
using emu::FaultTarget;

constexpr VResult kNoFailure = V_OK;
constexpr wchar_t kTimeout[] = L"Timeout while reading from bluetooth socket";

enum class Phase { kCreate, kCapture, kRemove };

struct Exchange {
  std::string name;
  Phase phase;
  FaultTarget target;
  std::uint32_t answerLength;  // the payload the scanner answers with
  // Also broken the slow ways, by silence: a representative few, since each
  // costs a receive time-out.
  bool slow = false;
};

// One device's life with the scanner answering a status query "ready" at
// the second poll.
std::vector<Exchange> DeviceLife() {
  std::vector<Exchange> life = {
      {"echo", Phase::kCreate, emu::On(emu::Command::kEcho), 16, true},
      {"identity", Phase::kCreate, emu::On(emu::Command::kIdentity), 16, true},
      {"session key", Phase::kCreate, emu::On(emu::Command::kSetKey), 16, true},
      {"status 0 at open", Phase::kCreate, emu::On(emu::Command::kSetStatus), 16},
      {"status 1", Phase::kCapture, emu::On(emu::Command::kSetStatus, 2), 16},
      {"poll 1", Phase::kCapture, emu::On(emu::Command::kGetStatus, 1), 16, true},
      {"poll 2", Phase::kCapture, emu::On(emu::Command::kGetStatus, 2), 16},
  };
  for (std::uint8_t part = 0; part < std::uint8_t(emu::kImageParts); ++part) {
    life.push_back({"part " + std::to_string(part), Phase::kCapture, emu::OnPart(part),
                    emu::kImagePartPayloadSize, part == 0 || part == emu::kImageParts - 1});
  }
  life.push_back({"status 0", Phase::kCapture, emu::On(emu::Command::kSetStatus, 3), 16, true});
  // Not silenced: a removal holds ModuleMonitor through its exchange, so a
  // silent scanner there would stall every other case for the time-out.
  life.push_back({"default key", Phase::kRemove, emu::On(emu::Command::kSetKey, 2), 16});
  return life;
}

struct LinkFault {
  const char *name;
  std::function<Fault(const Exchange &)> make;
  VResult code;  // what the layer that meets the fault gives
  const wchar_t *message;
  bool slow;  // costs a receive time-out
  // The connection stays up with the stream in step, so closing the device
  // can still give the scanner its default key back.
  bool inStep;
};

// An image part already fills the receive buffer: a longer declared length
// is refused before any of it is read, and the stream is then out of step.
// clang-format off
const LinkFault kOversizedPart = {"short read then silence", nullptr, V_E_FAILED, L"Invalid payload size received", false, false};

const LinkFault kFaults[] = {
    {"short read then silence",  [](const Exchange &e) { return Fault::DeclaredLength(e.target, e.answerLength + 16); }, V_E_TIMEOUT,       kTimeout,                     true,  true},
    {"silence",                  [](const Exchange &e) { return Fault::Silence(e.target); },                             V_E_TIMEOUT,       kTimeout,                     true,  true},
    {"closed before the answer", [](const Exchange &e) { return Fault::CloseMidFrame(e.target, 0); },                    V_E_END_OF_STREAM, L"",                          false, false},
    {"closed inside the header", [](const Exchange &e) { return Fault::CloseMidFrame(e.target, 5); },                    V_E_END_OF_STREAM, L"",                          false, false},
    {"bad data checksum",        [](const Exchange &e) { return Fault::BadDataChecksum(e.target); },                     V_E_CORRUPTED,     L"Incorrect data checksum",   false, true},
    {"bad header checksum",      [](const Exchange &e) { return Fault::BadHeaderChecksum(e.target); },                   V_E_CORRUPTED,     L"Incorrect header checksum", false, true},
    {"three stray frames",       [](const Exchange &e) { return Fault::StrayFrames(e.target, 3); },                      kNoFailure,        L"",                          false, true},
    // The true answer is left queued behind the fourth, and read in place of
    // the next command's: whether that one still fits is a race.
    {"four stray frames",        [](const Exchange &e) { return Fault::StrayFrames(e.target, 4); },                      V_E_FAILED,        L"Cannot get response for sent command", false, false},
};
// clang-format on

struct CaseOutcome {
  VResult result = V_OK;  // of the step the fault hit
  std::wstring message;
  VResult removed = V_OK;
  bool defaultKey = false;  // right after the device was gone
  bool freshCaptured = false;
};

class LinkFailureSweepTest : public DeviceTest {
 protected:
  // Creates, captures and removes, stopping at the first failure; the
  // device is removed whenever it was created.
  CaseOutcome Life(emu::Emulator &scanner) {
    CaseOutcome outcome;
    HVDevice hDevice = nullptr;
    outcome.result = Create(&scanner, &hDevice);
    outcome.message = vfw::GetLastError().message;
    if (VSucceeded(outcome.result)) {
      vfw::Handle captureObject;
      EXPECT_EQ(VPropertyBagCreate(captureObject.put()), V_OK);
      CaptureRun run = Capture(hDevice, {}, captureObject.get());
      outcome.result = run.result;
      outcome.message = vfw::GetLastError().message;
      if (VSucceeded(run.result)) {
        run.Collect();
        outcome.freshCaptured = run.status == V_BIOMETRIC_STATUS_OK && run.image == scanner.ExpectedImage();
      }
      outcome.removed = Slots().pRemoveDevice(hDevice, nullptr);
    }
    outcome.defaultKey = scanner.CurrentKey() == emu::kDefaultKey;
    return outcome;
  }

  struct Case {
    const Exchange *exchange;
    const LinkFault *fault;
    const LinkFault *expected;
    emu::Emulator *scanner;
    CaseOutcome broken;
    CaseOutcome fresh;
    bool powerCycled = false;
  };

  void RunCase(Case *c) {
    c->scanner->InjectFault(c->fault->make(*c->exchange));
    c->broken = Life(*c->scanner);
    c->scanner->ClearFaults();
    // A scanner the module could not give its default key back keeps the
    // session key until it is powered off and on.
    if (!c->broken.defaultKey) {
      c->powerCycled = true;
      c->scanner->ResetState();
    }
    c->fresh = Life(*c->scanner);
  }
};

TEST_F(LinkFailureSweepTest, EveryExchangeBrokenEveryWay) {
  const std::vector<Exchange> life = DeviceLife();
  // Drawing the synthetic finger is the dear part of starting a scanner:
  // every scanner serves the first one's.
  const emu::Image finger = emu::Emulator().ExpectedImage();
  std::vector<Case> cases;
  for (const Exchange &exchange : life) {
    for (const LinkFault &fault : kFaults) {
      if (fault.slow && !exchange.slow) {
        continue;
      }
      const bool oversized = fault.slow && exchange.answerLength == emu::kImagePartPayloadSize &&
                             fault.make(exchange).kind == emu::FaultKind::kDeclaredLength;
      emu::Options options = ReadyAfter(1);
      options.image = finger;
      cases.push_back(
          {&exchange, &fault, oversized ? &kOversizedPart : &fault, &StartScanner(options), {}, {}});
    }
  }
  // The silent cases each wait out a receive time-out, so they run side by
  // side on threads of their own. The rest share a few workers: a hundred
  // lives at once on a loaded machine would make exchanges that are not
  // broken miss their time-out too.
  std::vector<std::thread> threads;
  std::vector<Case *> quick;
  for (Case &c : cases) {
    if (c.fault->slow) {
      threads.emplace_back([this, &c] { RunCase(&c); });
    } else {
      quick.push_back(&c);
    }
  }
  std::atomic<std::size_t> next{0};
  for (unsigned w = 0; w < std::max(2u, std::thread::hardware_concurrency()); ++w) {
    threads.emplace_back([&] {
      for (std::size_t i = next++; i < quick.size(); i = next++) {
        RunCase(quick[i]);
      }
    });
  }
  for (std::thread &thread : threads) {
    thread.join();
  }

  int powerCycles = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.exchange->name + ": " + c.fault->name);
    const Phase phase = c.exchange->phase;
    VResult code = c.expected->code;
    std::wstring message = c.expected->message;
    if (phase == Phase::kRemove) {
      code = kNoFailure;  // removal goes on whatever the scanner answers
    } else if (phase == Phase::kCreate && c.exchange->name != "echo" && code != kNoFailure) {
      code = V_E_FAILED;
      message = kOpeningExchangeFailed;
    }
    EXPECT_EQ(c.broken.result, code);
    if (code != kNoFailure) {
      EXPECT_EQ(c.broken.message, message);
    }
    EXPECT_EQ(c.broken.removed, V_OK);
    // A lost answer to the session key leaves the scanner on a key the
    // module never took; whether it did is the scanner's secret.
    if (phase == Phase::kRemove || (c.expected->inStep && c.exchange->name != "session key")) {
      EXPECT_TRUE(c.broken.defaultKey);
    }
    EXPECT_EQ(c.fresh.result, V_OK);
    EXPECT_TRUE(c.fresh.freshCaptured);
    EXPECT_TRUE(c.fresh.defaultKey);
    powerCycles += c.powerCycled;
  }
  std::cout << "sweep link: " << cases.size() << " failure points (" << life.size() << " exchanges), "
            << powerCycles << " scanners power-cycled off a session key\n";
  RecordProperty("link failure points", static_cast<int>(cases.size()));
}

}  // namespace
}  // namespace vdm::test
