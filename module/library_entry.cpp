// The library entry: process attach registers the module, detach
// unregisters it.
#include "module/vdm_bluefin.h"

#if defined(_WIN32)
#include <pthread.h>
#include <windows.h>

// The C++ and POSIX threads runtimes are linked into the DLL, so each load
// of the module runs copies of its own, and neither copy cleans up after
// itself when the DLL is unloaded:
// - The C++ runtime allocates its reserve for throwing exceptions when out
//   of memory as the DLL starts (18.5 kB on 32-bit Windows, 73 kB on 64-bit)
//   and frees it only through __gnu_cxx::__freeres.
// - The threads runtime takes a TLS index the first time any thread uses it
//   (on 32-bit Windows already while the DLL starts, to register its unwind
//   tables), and gives each thread it did not start a record holding two
//   handles, an event and a duplicate of the thread's own. It gives a
//   record back when its thread ends, but the index never.
// A host that loads and unloads the module would lose all of that each
// time, until TlsAlloc fails after about a thousand loads and the threads
// runtime aborts the whole process. So an unload hands back the reserve,
// the unloading thread's record and the index.
namespace __gnu_cxx {
void __freeres() noexcept;
}
// The threads runtime's own names, which its headers leave out: the record
// of a thread id, and its TLS callback, whose thread detach gives back the
// calling thread's record and clears the thread's slot.
struct _pthread_v;
extern "C" _pthread_v *__pth_gpointer_locked(pthread_t id);
extern "C" PIMAGE_TLS_CALLBACK __xl_f;

namespace {

// TLS_MINIMUM_AVAILABLE slots in the thread block, and 1024 more that
// Windows adds on demand.
constexpr DWORD kTlsIndexes = TLS_MINIMUM_AVAILABLE + 1024;

void ReleaseRuntimeCopies(HINSTANCE instance) {
  const DWORD lastError = GetLastError();
  __gnu_cxx::__freeres();
  // pthread_self makes the calling thread's record if it has none yet, so
  // the threads runtime's slot holds it either way.
  _pthread_v *const record = __pth_gpointer_locked(pthread_self());
  DWORD index = TLS_OUT_OF_INDEXES;
  for (DWORD i = 0; record != nullptr && i < kTlsIndexes && index == TLS_OUT_OF_INDEXES; ++i) {
    if (TlsGetValue(i) == record) {
      index = i;
    }
  }
  if (index != TLS_OUT_OF_INDEXES) {
    __xl_f(instance, DLL_THREAD_DETACH, nullptr);
    TlsFree(index);
  }
  SetLastError(lastError);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return vdm::VdmBlueFinProcessAttach() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      // A reserved pointer means the process is ending, not an unload.
      vdm::VdmBlueFinProcessDetach(reserved != nullptr);
      if (reserved == nullptr) {
        ReleaseRuntimeCopies(instance);
      }
      return TRUE;
    default:
      return TRUE;
  }
}

#else

// A load constructor cannot refuse the load: a failed registration has been
// reported, and VdmBlueFinModuleOf tries to register again.
__attribute__((constructor)) static void VdmBlueFinLoad() {
  (void)vdm::VdmBlueFinProcessAttach();
}

// Runs at dlclose() and at process exit alike; the framework outlives the
// module in both cases, so unregistering is safe either way.
__attribute__((destructor)) static void VdmBlueFinUnload() {
  vdm::VdmBlueFinProcessDetach(false);
}

#endif
