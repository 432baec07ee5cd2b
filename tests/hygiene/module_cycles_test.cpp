// Loads, plugs, creates a device, captures, removes it, unplugs and unloads
// the module many times, through the device manager against the scanner
// emulator, and checks that handles, threads, thread-local storage keys,
// the host's objects, allocations, events and monitors, and the resident
// memory stay flat.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "process_footprint.h"
#include "tests/module/device_fixture.h"

namespace vdm::test {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VDM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VDM_SANITIZED 1
#endif
#endif

// A thousand cycles take seconds in a plain build; the sanitizers slow each
// one down tenfold and more, so they run fewer unless told otherwise.
int Cycles() {
  if (const char *text = std::getenv("VDM_HYGIENE_CYCLES")) {
    return std::atoi(text);
  }
#ifdef VDM_SANITIZED
  return 100;
#else
  return 1000;
#endif
}

// Under valgrind the heap is valgrind's own, and the resident size mostly
// its shadow memory: there memcheck's leak check stands in for both.
bool UnderValgrind() {
  const char *preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

struct Snapshot {
  ProcessFootprint process = MeasureProcess();
  HostFootprint host;
};

class ModuleCycles : public DeviceTest {
 protected:
  // One life of the module, from load to unload; the image it captured
  // must be the scanner's.
  void Cycle() {
    ASSERT_NO_FATAL_FAILURE(LoadAndPlug());
    const HVDevice hDevice = CreateOn(*scanner_);
    ASSERT_NE(hDevice, nullptr);
    CaptureRun run = Capture(hDevice);
    run.Collect();
    ASSERT_EQ(run.result, V_OK);
    ASSERT_EQ(run.status, V_BIOMETRIC_STATUS_OK);
    ASSERT_TRUE(run.image == expected_);
    ASSERT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
    ASSERT_EQ(module_->Unplug(), V_OK);
    ASSERT_EQ(module_->Uninit(), V_OK);
    ASSERT_EQ(module_->Unload(), V_OK);
    module_.reset();
  }

  emu::Emulator *scanner_ = nullptr;
  emu::Image expected_;
};

TEST_F(ModuleCycles, LeaveNothingBehind) {
  module_.reset();
  emu::Options options;
  options.readyAfterPolls = 1;
  scanner_ = &StartScanner(options);
  expected_ = scanner_->ExpectedImage();
  // The first cycles make what a process keeps for good: the loader's and
  // the C library's own tables, the framework's per-thread state.
  for (int i = 0; i < 3; ++i) {
    ASSERT_NO_FATAL_FAILURE(Cycle());
  }
  // The scanner closes its end of a connection on its own thread, after
  // the module closed its own: both counts are taken with the scanner
  // stopped, its thread joined and its descriptors closed.
  std::string error;
  scanner_->Stop();
  const Snapshot before;
  ASSERT_TRUE(scanner_->Start(&error)) << error;
  const int cycles = Cycles();
  for (int i = 0; i < cycles; ++i) {
    ASSERT_NO_FATAL_FAILURE(Cycle()) << "cycle " << i;
    scanner_->ClearTranscript();
  }
  scanner_->Stop();
  const Snapshot after;
  const ProcessFootprint &was = before.process, &is = after.process;
  std::printf(
      "%d module cycles: handles %zu -> %zu, threads %zu -> %zu, free thread-local keys %zu -> %zu, "
      "resident memory %ld kB -> %ld kB, heap in use %zu -> %zu bytes\n",
      cycles, was.handles, is.handles, was.threads, is.threads, was.freeThreadKeys, is.freeThreadKeys,
      was.residentKb, is.residentKb, was.heapBytes, is.heapBytes);
  EXPECT_EQ(is.handles, was.handles);
  EXPECT_EQ(is.threads, was.threads);
  EXPECT_EQ(is.freeThreadKeys, was.freeThreadKeys);
  EXPECT_EQ(after.host, before.host);
  // The host keeps every type a module registers for the life of the
  // process, and each load registers the module's three types afresh: that
  // costs under a kilobyte a cycle, and the runtimes may keep a little of
  // their own. Anything the module leaked per device or capture (a record,
  // an image of 90 kB, a socket's buffers) is far more.
  if (UnderValgrind()) {
    return;
  }
  const auto heapGrowth = static_cast<long>(is.heapBytes) - static_cast<long>(was.heapBytes);
  EXPECT_LT(heapGrowth, (1024L + kRuntimeHeapBytesPerLoad) * cycles)
      << "the heap grew by " << heapGrowth << " bytes";
#ifndef VDM_SANITIZED
  // The sanitizers keep freed memory in quarantine, so only a plain build
  // can hold the resident size to the heap's growth and the allocator's
  // slack.
  EXPECT_LT((is.residentKb - was.residentKb) * 1024L, heapGrowth + (2L << 20)) << "resident memory grew";
#endif
}

}  // namespace
}  // namespace vdm::test
