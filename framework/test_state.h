// Counters and hooks that the test controls read and set, shared by the framework's parts.
#ifndef VFW_TEST_STATE_H
#define VFW_TEST_STATE_H

#include "v_types.h"

namespace vfw::detail {

void NoteErrorReported() noexcept;
void NoteMonitorCreated() noexcept;
void NoteMonitorDisposed() noexcept;
void NoteEventCreated() noexcept;
void NoteEventFreed() noexcept;
// Runs the test sleep hook when one is set; returns false when the caller must sleep for real.
bool RunSleepHook(VInt32 milliseconds) noexcept;
// Brackets a wait that may block, so tests can tell when a thread is parked.
void NoteWaitBlocking() noexcept;
void NoteWaitDone() noexcept;

}  // namespace vfw::detail

#endif  // VFW_TEST_STATE_H
