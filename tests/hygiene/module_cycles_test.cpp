// The module's whole life, load to unload, many times against the scanner
// emulator: handles, threads, thread-local storage keys and memory stay
// flat (the fixture compares the host's own counts over the whole test).
#ifdef _WIN32
#include <windows.h>
// After windows.h, which they need.
#include <malloc.h>
#include <psapi.h>
#include <tlhelp32.h>
#else
#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <ranges>
#endif

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/module/device_fixture.h"

namespace vdm::test {
namespace {

#ifdef _WIN32
// Kernel handles, found by asking every handle value below 2^18 for its
// flags: Wine answers GetProcessHandleCount with 0.
std::size_t Handles() {
  std::size_t count = 0;
  for (std::uintptr_t value = 4; value < (1u << 18); value += 4) {
    DWORD flags = 0;
    count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
  }
  return count;
}

std::size_t Threads() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  std::size_t count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  CloseHandle(snapshot);
  return count;
}

std::size_t FreeThreadKeys() {
  std::vector<DWORD> indexes;
  for (DWORD index = TlsAlloc(); index != TLS_OUT_OF_INDEXES; index = TlsAlloc())
    indexes.push_back(index);
  for (DWORD index : indexes)
    TlsFree(index);
  return indexes.size();
}

long ResidentKb() {
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return static_cast<long>(counters.WorkingSetSize / 1024);
}

// The C runtime's heap (msvcrt's), which the module's and the framework's
// allocations come from.
std::size_t HeapBytes() {
  _HEAPINFO entry{};
  std::size_t used = 0;
  while (_heapwalk(&entry) == _HEAPOK)
    used += entry._useflag == _USEDENTRY ? entry._size : 0;
  return used;
}

// The module's copy of the POSIX threads runtime keeps, in the C runtime's
// heap, the unloading thread's record (184 bytes on 32-bit Windows, 480 on
// 64-bit) and its lazily made locks, which it never frees.
constexpr long kRuntimeHeapBytesPerLoad = 512;
#else
std::size_t Handles() {
  return std::ranges::distance(std::filesystem::directory_iterator("/proc/self/fd"));
}

std::size_t Threads() {
  return std::ranges::distance(std::filesystem::directory_iterator("/proc/self/task"));
}

std::size_t FreeThreadKeys() {
  std::vector<pthread_key_t> keys;
  pthread_key_t key;
  while (keys.size() < PTHREAD_KEYS_MAX && pthread_key_create(&key, nullptr) == 0)
    keys.push_back(key);
  for (pthread_key_t taken : keys)
    pthread_key_delete(taken);
  return keys.size();
}

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::size_t HeapBytes() {
  return mallinfo2().uordblks;
}

// The C and C++ runtimes are shared libraries of their own here.
constexpr long kRuntimeHeapBytesPerLoad = 0;
#endif

// What a process holds of the system that a module could leak on each
// load, as it stands when made.
struct Footprint {
  std::size_t handles = Handles();  // file descriptors on Linux, kernel handles on Windows
  std::size_t threads = Threads();
  // Thread-local storage keys (POSIX keys, Windows TLS indexes) still free,
  // taken and given back to count them: a process has a fixed number.
  std::size_t freeThreadKeys = FreeThreadKeys();
  long residentKb = ResidentKb();
  std::size_t heapBytes = HeapBytes();  // in use in the C library's heap
};

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
  if (const char *text = std::getenv("VDM_HYGIENE_CYCLES"))
    return std::atoi(text);
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

using ModuleCycles = DeviceTest;

TEST_F(ModuleCycles, LeaveNothingBehind) {
  module_.reset();
  emu::Options options;
  options.readyAfterPolls = 1;
  emu::Emulator &scanner = StartScanner(options);
  const emu::Image expected = scanner.ExpectedImage();
  // One life of the module, from load to unload; the image it captured
  // must be the scanner's.
  auto cycle = [&] {
    ASSERT_NO_FATAL_FAILURE(LoadAndPlug());
    const HVDevice hDevice = CreateOn(scanner);
    ASSERT_NE(hDevice, nullptr);
    CaptureRun run = Capture(hDevice);
    run.Collect();
    ASSERT_EQ(run.result, V_OK);
    ASSERT_EQ(run.status, V_BIOMETRIC_STATUS_OK);
    ASSERT_TRUE(run.image == expected);
    ASSERT_EQ(Slots().pRemoveDevice(hDevice, nullptr), V_OK);
    ASSERT_EQ(module_->Unplug(), V_OK);
    ASSERT_EQ(module_->Uninit(), V_OK);
    ASSERT_EQ(module_->Unload(), V_OK);
    module_.reset();
  };
  // The first cycles make what a process keeps for good: the loader's and
  // the C library's own tables, the framework's per-thread state.
  for (int i = 0; i < 3; ++i)
    ASSERT_NO_FATAL_FAILURE(cycle());
  // The scanner closes its end of a connection on its own thread, after
  // the module closed its own: both counts are taken with the scanner
  // stopped, its thread joined and its descriptors closed.
  std::string error;
  scanner.Stop();
  const Footprint was;
  ASSERT_TRUE(scanner.Start(&error)) << error;
  const int cycles = Cycles();
  for (int i = 0; i < cycles; ++i) {
    ASSERT_NO_FATAL_FAILURE(cycle()) << "cycle " << i;
    scanner.ClearTranscript();
  }
  scanner.Stop();
  const Footprint is;
  EXPECT_EQ(is.handles, was.handles);
  EXPECT_EQ(is.threads, was.threads);
  EXPECT_EQ(is.freeThreadKeys, was.freeThreadKeys);
  // The host keeps every type a module registers for the life of the
  // process, and each load registers the module's three types afresh: that
  // costs under a kilobyte a cycle, and the runtimes may keep a little of
  // their own. Anything the module leaked per device or capture (a record,
  // an image of 90 kB, a socket's buffers) is far more.
  if (UnderValgrind())
    return;
  const auto heapGrowth = static_cast<long>(is.heapBytes) - static_cast<long>(was.heapBytes);
  EXPECT_LT(heapGrowth, (1024L + kRuntimeHeapBytesPerLoad) * cycles)
      << "the heap grew by " << heapGrowth << " bytes";
#ifndef VDM_SANITIZED
  // The sanitizers keep freed memory in quarantine: only a plain build can
  // hold the resident size to the heap's growth and the allocator's slack.
  EXPECT_LT((is.residentKb - was.residentKb) * 1024L, heapGrowth + (2L << 20)) << "resident memory grew";
#endif
}

}  // namespace
}  // namespace vdm::test
