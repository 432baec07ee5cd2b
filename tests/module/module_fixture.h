// Loads the emulated-link build of the module through the framework's
// device manager, as the host would, and checks for leaks at the end.
#ifndef TESTS_MODULE_MODULE_FIXTURE_H
#define TESTS_MODULE_MODULE_FIXTURE_H

#include <gtest/gtest.h>
#include <v_devices.h>

#include <memory>
#include <string>

#include "framework/device_manager.h"
#include "framework/v_support.h"
#include "framework/v_test_controls.h"

namespace vdm::test {

inline constexpr char kModuleOf[] = "VdmBlueFinModuleOf";

// Counts of everything the host hands out, to compare before and after.
struct HostFootprint {
  VInt64 objects = VTestGetLiveObjectCount();
  VInt64 allocations = VTestGetOutstandingAllocationCount();
  VInt64 monitors = VTestGetLiveMonitorCount();
  VInt64 events = VTestGetLiveEventCount();
  bool operator==(const HostFootprint &) const = default;
};

inline std::ostream &operator<<(std::ostream &out, const HostFootprint &f) {
  return out << "{objects " << f.objects << ", allocations " << f.allocations << ", monitors " << f.monitors
             << ", events " << f.events << "}";
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VTestClearFailures();
    baseline_ = HostFootprint{};
  }

  void TearDown() override {
    VTestClearFailures();
    if (module_) {
      module_.reset();
    }
    EXPECT_EQ(HostFootprint{}, baseline_) << "the module left host objects behind";
  }

  VResult Load() { return vfw::DeviceModule::Load(VDM_EMULATED_MODULE_PATH, kModuleOf, &module_); }

  // Loads, initialises and plugs with the given interface version.
  void LoadAndPlug(VUInt32 version = V_DEVICE_MANAGER_INTERFACE_VERSION) {
    ASSERT_EQ(Load(), V_OK) << vfw::ToUtf8(vfw::GetLastError().message);
    ASSERT_EQ(module_->Init(), V_OK);
    ASSERT_EQ(module_->Plug(version), V_OK);
  }

  const VDeviceManagerInterface &Slots() const { return *module_->Interface(); }

  std::unique_ptr<vfw::DeviceModule> module_;
  HostFootprint baseline_;
};

// The result and the thread's last error agree on the code and message.
inline ::testing::AssertionResult HasLastError(VResult result, VResult code, const std::wstring &message) {
  const vfw::LastError error = vfw::GetLastError();
  if (result == code && error.code == code && error.message == message) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "result " << result << ", last error " << error.code << " \"" << vfw::ToUtf8(error.message)
         << "\"; expected " << code << " \"" << vfw::ToUtf8(message) << "\"";
}

}  // namespace vdm::test

#endif  // TESTS_MODULE_MODULE_FIXTURE_H
