// Loads, plugs, creates a device, captures, removes it, unplugs and unloads
// the module many times, through the device manager against the scanner
// emulator, and checks that file descriptors, threads, the host's objects,
// allocations, events and monitors, and the resident memory stay flat.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>
#include <v_biometrics.h>
#include <v_devices.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "emulator/emulator.h"
#include "framework/device_manager.h"
#include "framework/v_support.h"
#include "framework/v_test_controls.h"

namespace {

namespace emu = bluefin::emu;

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

std::size_t EntriesIn(const char *directory) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(directory)) {
    ++count;
  }
  return count;
}

long ResidentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Snapshot {
  std::size_t descriptors = EntriesIn("/proc/self/fd");
  std::size_t threads = EntriesIn("/proc/self/task");
  VInt64 objects = VTestGetLiveObjectCount();
  VInt64 allocations = VTestGetOutstandingAllocationCount();
  VInt64 events = VTestGetLiveEventCount();
  VInt64 monitors = VTestGetLiveMonitorCount();
  long residentKb = ResidentKilobytes();
  std::size_t heapBytes = mallinfo2().uordblks;
};

VResult V_CALL AcceptEveryPoll(HVDevice, HVObject, HVImage *, VInt32, VBiometricStatus *, void *) {
  return V_OK;
}

class ModuleCycles : public ::testing::Test {
 protected:
  void SetUp() override {
    VTestSetSleepHook([](VInt32, void *) {}, nullptr);
    emu::Options options;
    options.address = "02:48:59:47:" + std::to_string(getpid() % 90 + 10) + ":01";
    options.readyAfterPolls = 1;
    scanner_ = std::make_unique<emu::Emulator>(options);
    std::string error;
    ASSERT_TRUE(scanner_->Start(&error)) << error;
    address_ = std::wstring(options.address.begin(), options.address.end());
  }
  void TearDown() override {
    scanner_.reset();
    VTestSetSleepHook(nullptr, nullptr);
  }

  // One life of the module, from load to unload; the image it captured
  // must be the scanner's.
  void Cycle() {
    std::unique_ptr<vfw::DeviceModule> module;
    ASSERT_EQ(vfw::DeviceModule::Load(VDM_EMULATED_MODULE_PATH, "VdmBlueFinModuleOf", &module), V_OK);
    ASSERT_EQ(module->Init(), V_OK);
    ASSERT_EQ(module->Plug(), V_OK);
    const VDeviceManagerInterface &slots = *module->Interface();

    HVDevice hDevice = nullptr;
    {
      vfw::Handle bag;
      ASSERT_EQ(VPropertyBagCreate(bag.put()), V_OK);
      ASSERT_EQ(VPropertyBagSetStringW(bag.get(), L"DisplayName", L"Scanner"), V_OK);
      ASSERT_EQ(VPropertyBagSetStringW(bag.get(), L"BluetoothAddress", address_.c_str()), V_OK);
      ASSERT_EQ(slots.pCreateDevice(bag.get(), &hDevice, nullptr), V_OK)
          << vfw::ToUtf8(vfw::GetLastError().message);
    }
    vfw::Handle captureObject;
    ASSERT_EQ(VPropertyBagCreate(captureObject.put()), V_OK);
    HVImage images[1] = {nullptr};
    VInt32 imageCount = 0;
    VBiometricStatus status = -1;
    ASSERT_EQ(
        slots.pCapture(hDevice, captureObject.get(), nullptr, nullptr, nullptr, nullptr, V_TRUE, nullptr,
                       nullptr, nullptr, images, 1, &imageCount, &status, AcceptEveryPoll, nullptr),
        V_OK);
    vfw::Handle image(images[0]);
    ASSERT_EQ(status, V_BIOMETRIC_STATUS_OK);
    void *pPixels = nullptr;
    ASSERT_EQ(VImageGetPixelsPtr(image.get(), &pPixels), V_OK);
    ASSERT_EQ(0, std::memcmp(pPixels, expected_.data(), expected_.size()));

    ASSERT_EQ(slots.pRemoveDevice(hDevice, nullptr), V_OK);
    ASSERT_EQ(module->Unplug(), V_OK);
    ASSERT_EQ(module->Uninit(), V_OK);
    ASSERT_EQ(module->Unload(), V_OK);
  }

  std::unique_ptr<emu::Emulator> scanner_;
  std::wstring address_;
  emu::Image expected_;
};

TEST_F(ModuleCycles, LeaveNothingBehind) {
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
  std::printf("%d module cycles: resident memory %ld kB -> %ld kB, heap in use %zu -> %zu bytes\n", cycles,
              before.residentKb, after.residentKb, before.heapBytes, after.heapBytes);
  EXPECT_EQ(after.descriptors, before.descriptors);
  EXPECT_EQ(after.threads, before.threads);
  EXPECT_EQ(after.objects, before.objects);
  EXPECT_EQ(after.allocations, before.allocations);
  EXPECT_EQ(after.events, before.events);
  EXPECT_EQ(after.monitors, before.monitors);
  // The host keeps every type a module registers for the life of the
  // process, and each load registers the module's three types afresh: that
  // costs under a kilobyte a cycle. Anything the module leaked per device
  // or capture (a record, an image of 90 kB, a socket's buffers) is far
  // more.
  if (UnderValgrind()) {
    return;
  }
  const auto heapGrowth = static_cast<long>(after.heapBytes) - static_cast<long>(before.heapBytes);
  EXPECT_LT(heapGrowth, 1024L * cycles) << "the heap grew by " << heapGrowth << " bytes";
#ifndef VDM_SANITIZED
  // The sanitizers keep freed memory in quarantine, so only a plain build
  // can hold the resident size to the heap's growth and the allocator's
  // slack.
  EXPECT_LT((after.residentKb - before.residentKb) * 1024L, heapGrowth + (2L << 20))
      << "resident memory grew";
#endif
}

}  // namespace
