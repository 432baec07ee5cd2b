// The footprint from /proc, the C library's heap and its POSIX keys.
#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <vector>

#include "process_footprint.h"

namespace vdm::test {
namespace {

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

// Takes every key still free, counts them and gives them back.
std::size_t FreeThreadKeys() {
  std::vector<pthread_key_t> keys;
  pthread_key_t key;
  while (keys.size() < PTHREAD_KEYS_MAX && pthread_key_create(&key, nullptr) == 0) {
    keys.push_back(key);
  }
  for (pthread_key_t taken : keys) {
    pthread_key_delete(taken);
  }
  return keys.size();
}

}  // namespace

// The C and C++ runtimes are shared libraries of their own here.
const long kRuntimeHeapBytesPerLoad = 0;

ProcessFootprint MeasureProcess() {
  ProcessFootprint footprint;
  footprint.handles = EntriesIn("/proc/self/fd");
  footprint.threads = EntriesIn("/proc/self/task");
  footprint.freeThreadKeys = FreeThreadKeys();
  footprint.residentKb = ResidentKilobytes();
  footprint.heapBytes = mallinfo2().uordblks;
  return footprint;
}

}  // namespace vdm::test
