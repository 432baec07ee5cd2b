/*
 * Test controls of the framework stand-in, for tests only: failure injection into the host calls
 * a device module makes, call counting and logging, leak counters and a sleep hook.
 *
 * Counted calls are the VResult-returning host calls of v_core.h, v_media.h and v_biometrics.h,
 * except the error recorders and readers (VErrorSetLast*, VErrorSetWin32W, VErrorGet* of an error
 * object), the monitor calls, and the readers meant for host programs (VModuleGet*,
 * VPluginModuleGet*, VImageGet* but VImageGetPixelsPtr, VParameterDescriptorGet*, VListGetCount,
 * VObjectGetPropertyPW, VTypeGetNameW, VPropertyBag*, VObjectFreeArray). The framework's own work
 * (the device manager, the framework calling its own type-of functions) is not counted.
 *
 * An injected failure records the last error (the code, message "Injected failure in <name>")
 * and returns the code without doing anything else. The exception are the calls that only
 * release (VObjectSet and VStringSet of null, VObjectUnref, VListDispose): they still release
 * and then fail,
 * as a host's release does when a dispose fails. Only negative codes are injected.
 * Every control is thread-safe.
 */
#ifndef V_TEST_CONTROLS_H
#define V_TEST_CONTROLS_H

#include "v_types.h"

V_BEGIN_DECLS

/* Fails the n-th counted call since VTestResetCalls (1-based) with code; with persistent, every
 * counted call after it too. Replaces an earlier VTestFailCall; n 0 removes it. */
V_API void V_CALL VTestFailCall(VUInt64 n, VResult code, VBool persistent);
/* Fails the nth (1-based) call of the named function made after this control, counted from now
 * (and again from VTestResetCalls); with persistent, every later call of it too. Several
 * functions can be armed at once. */
V_API void V_CALL VTestFailFunction(const char *szName, VInt32 nth, VResult code, VBool persistent);
/* Removes every injected failure. */
V_API void V_CALL VTestClearFailures(void);
/* Sets the call counter to 0 and clears the call log. */
V_API void V_CALL VTestResetCalls(void);
V_API VUInt64 V_CALL VTestGetCallCount(void);
/* While enabled, records the name of every counted call. */
V_API void V_CALL VTestSetCallLog(VBool enabled);
/* Copies up to capacity logged names (static texts) into arszNames (may be null with capacity 0)
 * and returns how many are logged. */
V_API VInt32 V_CALL VTestGetCallLog(const char **arszNames, VInt32 capacity);

/* Called on the calling thread at the start of every counted call, before any injected failure,
 * with the function's name (a static text). A null hook removes it. */
typedef void(V_CALL *VTestCallHook)(const char *szName, void *pContext);
V_API void V_CALL VTestSetCallHook(VTestCallHook pHook, void *pContext);

/* Objects created and not yet freed; types and the framework's own modules are not counted. */
V_API VInt64 V_CALL VTestGetLiveObjectCount(void);
/* Blocks from VAlloc/VCAlloc (and the list storage and handle arrays the framework allocates for
 * callers) not yet freed; type descriptors that VTypeRegister took over are not counted. */
V_API VInt64 V_CALL VTestGetOutstandingAllocationCount(void);
/* Every allocation ever made through VAlloc/VCAlloc and every object instance. */
V_API VUInt64 V_CALL VTestGetAllocationTotal(void);
V_API VInt64 V_CALL VTestGetLiveMonitorCount(void);
V_API VInt64 V_CALL VTestGetLiveEventCount(void);
/* Threads inside a wait that may block (an untimed wait, or a timed one with
 * a nonzero time-out): a test can tell that a thread is parked on a wait. */
V_API VInt64 V_CALL VTestGetBlockedWaitCount(void);
V_API VInt64 V_CALL VTestGetErrorReportCount(void);

/* Called instead of sleeping by VThreadSleep, on the sleeping thread. */
typedef void(V_CALL *VTestSleepHook)(VInt32 milliseconds, void *pContext);
/* A null hook: VThreadSleep sleeps for real again. */
V_API void V_CALL VTestSetSleepHook(VTestSleepHook pHook, void *pContext);
/* A host program run by a test as a child process cannot be given a hook:
 * the environment variable VFW_TEST_SLEEP_DIVISOR=N makes its every
 * VThreadSleep N times shorter instead. */

V_END_DECLS

#endif /* V_TEST_CONTROLS_H */
