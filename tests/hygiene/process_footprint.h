// What a process holds of the system that a module could leak on each
// load: open handles, threads, thread-local storage keys, memory. One
// implementation per platform.
#ifndef VDM_TESTS_HYGIENE_PROCESS_FOOTPRINT_H
#define VDM_TESTS_HYGIENE_PROCESS_FOOTPRINT_H

#include <cstddef>

namespace vdm::test {

struct ProcessFootprint {
  std::size_t handles = 0;  // file descriptors on Linux, kernel handles on Windows
  std::size_t threads = 0;
  // Thread-local storage keys (POSIX keys, Windows TLS indexes) that can
  // still be had: a process has a fixed number of them.
  std::size_t freeThreadKeys = 0;
  long residentKb = 0;
  std::size_t heapBytes = 0;  // in use in the C library's heap
};

ProcessFootprint MeasureProcess();

// Heap bytes that the platform's runtimes keep for good on each load of a
// library, whatever the library does.
extern const long kRuntimeHeapBytesPerLoad;

}  // namespace vdm::test

#endif  // VDM_TESTS_HYGIENE_PROCESS_FOOTPRINT_H
