// What the test module exposes to the tests that load it: its unplug count, what the host handed
// it, and switches that make its life-cycle procs fail.
#ifndef VFW_TESTS_TEST_MODULE_H
#define VFW_TESTS_TEST_MODULE_H

#include "v_devices.h"

struct TestModuleControl {
  int unplugCalls;
  VResult initFailure;    // negative: init fails with it
  VResult unplugFailure;  // negative: unplug fails with it
  VBool isPlugged;
  VUInt32 pluggedVersion;
  void *pluggedFirst;
  const VDeviceManagerCallbacks *callbacks;
  HVPlugin plugin;
};

typedef TestModuleControl *(*TestModuleGetControlProc)(void);

#endif  // VFW_TESTS_TEST_MODULE_H
