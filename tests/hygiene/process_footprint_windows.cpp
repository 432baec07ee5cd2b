// The footprint from the system's handle list, a thread snapshot, the TLS
// indexes and the C runtime's heap.
#include <windows.h>
// After windows.h, which they need.
#include <malloc.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <vector>

#include "process_footprint.h"

namespace vdm::test {
namespace {

// The system's handle list, SystemExtendedHandleInformation, with the
// owning process of each handle. GetProcessHandleCount would do on Windows,
// but Wine answers it with 0.
constexpr auto kSystemExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);

struct HandleEntry {
  PVOID object;
  ULONG_PTR processId;
  ULONG_PTR handle;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG attributes;
  ULONG reserved;
};

struct HandleList {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry handles[1];
};

constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

std::size_t OpenHandles() {
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    const NTSTATUS status = NtQuerySystemInformation(kSystemExtendedHandleInformation, buffer.data(),
                                                     static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status != 0) {
      return 0;
    }
    break;
  }
  const auto *list = reinterpret_cast<const HandleList *>(buffer.data());
  const ULONG_PTR self = GetCurrentProcessId();
  std::size_t count = 0;
  for (ULONG_PTR i = 0; i < list->count; ++i) {
    count += list->handles[i].processId == self;
  }
  return count;
}

std::size_t Threads() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return 0;
  }
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  std::size_t count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return count;
}

// Takes every TLS index still free, counts them and gives them back.
std::size_t FreeTlsIndexes() {
  std::vector<DWORD> indexes;
  for (DWORD index = TlsAlloc(); index != TLS_OUT_OF_INDEXES; index = TlsAlloc()) {
    indexes.push_back(index);
  }
  for (DWORD index : indexes) {
    TlsFree(index);
  }
  return indexes.size();
}

long WorkingSetKilobytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
    return 0;
  }
  return static_cast<long>(counters.WorkingSetSize / 1024);
}

// The C runtime's heap (msvcrt's), which the module's and the framework's
// allocations come from.
std::size_t HeapBytesInUse() {
  _HEAPINFO entry{};
  std::size_t used = 0;
  while (_heapwalk(&entry) == _HEAPOK) {
    if (entry._useflag == _USEDENTRY) {
      used += entry._size;
    }
  }
  return used;
}

}  // namespace

// The module's copy of the POSIX threads runtime keeps, in the C runtime's
// heap, the unloading thread's record (184 bytes on 32-bit Windows, 480 on
// 64-bit) and its lazily made locks, which it never frees.
const long kRuntimeHeapBytesPerLoad = 512;

ProcessFootprint MeasureProcess() {
  ProcessFootprint footprint;
  footprint.handles = OpenHandles();
  footprint.threads = Threads();
  footprint.freeThreadKeys = FreeTlsIndexes();
  footprint.residentKb = WorkingSetKilobytes();
  footprint.heapBytes = HeapBytesInUse();
  return footprint;
}

}  // namespace vdm::test
