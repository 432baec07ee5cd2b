// Every counted host call starts here: the call is counted (and logged when tests ask), an
// injected failure is applied, and C++ exceptions are turned into result codes so that none
// crosses the C boundary.
#ifndef VFW_CALLS_H
#define VFW_CALLS_H

#include <new>

#include "errors.h"

namespace vfw::detail {

// Counts a call of the named function. Returns true when tests asked this call to fail; the
// last error is then recorded and *pInjected holds the code to return.
bool EnterCountedCall(const char *name, VResult *pInjected) noexcept;

template <class Body>
VResult Shielded(Body &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return ReportOutOfMemory();
  } catch (...) {
    return ReportUnexpected();
  }
}

// name must be a static text (callers pass __func__): the call log keeps the pointer.
template <class Body>
VResult Counted(const char *name, Body &&body) noexcept {
  VResult injected = 0;
  if (EnterCountedCall(name, &injected)) {
    return injected;
  }
  return Shielded(body);
}

// For calls whose only effect is to release (VObjectSet or VStringSet of null, VObjectUnref). A
// real host's release fails only when a dispose fails, and it frees the object all the same; an
// injected failure does the same: the release happens and the injected code is returned. Keeping
// the object alive instead would make every failure sweep leak what no host ever keeps.
template <class Body>
VResult CountedRelease(const char *name, Body &&body) noexcept {
  VResult injected = 0;
  if (!EnterCountedCall(name, &injected)) {
    return Shielded(body);
  }
  std::optional<ErrorState> injectedError = SaveLastError();
  Shielded(body);
  RestoreLastError(std::move(injectedError));
  return injected;
}

}  // namespace vfw::detail

namespace vfw::detail {

// While one lives on a thread, that thread's host calls are neither counted nor failed: the
// framework's own work (and the framework's own type-of and module-of functions when the
// framework calls them) must not disturb the counts that tests set up.
class UncountedScope {
 public:
  UncountedScope() noexcept;
  ~UncountedScope();
  UncountedScope(const UncountedScope &) = delete;
  UncountedScope &operator=(const UncountedScope &) = delete;
};

}  // namespace vfw::detail
#endif  // VFW_CALLS_H
