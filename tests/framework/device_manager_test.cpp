// The device manager driving a real (tiny) device module library. Every module test loads,
// plugs and notifies through it; these cases cover what the product module never does: failing to
// load, refusing init or unplug, and the library's registration going away with it.
#include "framework/device_manager.h"
#include "framework_test.h"
#include "test_module.h"
#include "tests/v_call_function.h"

namespace {

constexpr const char *kModulePath = VFW_TEST_MODULE_PATH;

class DeviceManagerTest : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    ASSERT_EQ(V_OK, vfw::DeviceModule::Load(kModulePath, "TestModuleOf", &module_))
        << vfw::ToUtf8(vfw::GetLastError().message);
    auto getControl = reinterpret_cast<TestModuleGetControlProc>(
        vfw::LoadedLibraryExport(kModulePath, "TestModuleGetControl"));
    ASSERT_NE(nullptr, getControl);
    control_ = getControl();
  }
  void TearDown() override {
    module_.reset();
    // Closed for real: the next test's module starts from fresh statics.
    EXPECT_FALSE(vfw::IsLibraryLoaded(kModulePath)) << "the library is gone";
    FrameworkTest::TearDown();
  }

  std::unique_ptr<vfw::DeviceModule> module_;
  TestModuleControl *control_ = nullptr;
};

TEST(DeviceManagerLoadTest, FailuresNameTheirCauseAndLeaveNothingLoaded) {
  struct Row {
    const char *path;
    const char *symbol;
    const char *named;  // what the dlerror text must mention
  };
  for (const Row &row : {Row{"/nonexistent/libNothing.so", "TestModuleOf", "libNothing.so"},
                         Row{kModulePath, "NoSuchExport", "NoSuchExport"}}) {
    std::unique_ptr<vfw::DeviceModule> module;
    EXPECT_EQ(V_E_FAILED, vfw::DeviceModule::Load(row.path, row.symbol, &module));
    EXPECT_EQ(nullptr, module);
    const std::string message = vfw::ToUtf8(vfw::GetLastError().message);
    EXPECT_NE(std::string::npos, message.find(row.named)) << message;
  }
  EXPECT_FALSE(vfw::IsLibraryLoaded(kModulePath));
}

TEST_F(DeviceManagerTest, PlugNeedsAnInitialisedModule) {
  EXPECT_EQ(V_OK, module_->Unplug()) << "an unplug before any plug still reaches the module";
  EXPECT_EQ(1, control_->unplugCalls);
  EXPECT_EQ(V_E_INVALID_OPERATION, module_->Plug());
  EXPECT_EQ(L"Module is not initialized", vfw::GetLastError().message);
  EXPECT_FALSE(module_->IsPlugged());

  ASSERT_EQ(V_OK, module_->Init());
  ASSERT_EQ(V_OK, module_->Plug(0x0107));
  EXPECT_TRUE(module_->IsPlugged());
  EXPECT_EQ(0x0107u, control_->pluggedVersion) << "the version passes through unchecked";
  EXPECT_EQ(module_->Module(), control_->pluggedFirst);
  EXPECT_EQ(module_->Callbacks(), control_->callbacks);
  EXPECT_EQ(module_->Plugin(), control_->plugin);

  ASSERT_EQ(V_OK, module_->Uninit());
  EXPECT_EQ(2, control_->unplugCalls) << "VPluginUnplug runs the module's unplug";
  EXPECT_FALSE(module_->IsPlugged());
  EXPECT_EQ(V_E_INVALID_OPERATION, module_->Plug()) << "uninit ends the initialised state";
}

TEST_F(DeviceManagerTest, RefusalsAndAFlaggedUninitKeepTheState) {
  control_->initFailure = V_E_INVALID_DATA;
  EXPECT_EQ(V_E_INVALID_DATA, module_->Init());
  EXPECT_FALSE(module_->IsInitialised());
  control_->initFailure = V_OK;
  ASSERT_EQ(V_OK, module_->Init());
  ASSERT_EQ(V_OK, module_->Uninit(V_TRUE));
  EXPECT_TRUE(module_->IsInitialised()) << "uninit with a nonzero flag does not uninitialise";
  ASSERT_EQ(V_OK, module_->Plug());
  control_->unplugFailure = V_E_TIMEOUT;
  EXPECT_EQ(V_E_TIMEOUT, module_->Unplug());
  EXPECT_TRUE(module_->IsPlugged());
  control_->unplugFailure = V_OK;
  // The destructor unplugs and uninitialises what is still up.
}

using RegistryTest = FrameworkTest;

template <typename Lambda>
VModuleCreateProc Create(Lambda lambda) {
  return vdm::test::VCallFunction<VModuleCreateProc>(lambda);
}

TEST_F(RegistryTest, FailedCreateLeavesTheSlotEmptyAndNothingAlive) {
  struct Row {
    const char *what;
    VModuleCreateProc create;
    VResult expected;
  };
  const Row rows[] = {
      {"fails",
       Create([](HVModule *) { return VErrorSetLastW(-3, nullptr, nullptr, nullptr, nullptr, nullptr); }),
       -3},
      {"fails after handing out its module", Create([](HVModule *ph) {
         VPluginModuleCreate(ph);
         return VErrorSetLastW(-7, L"release failed", nullptr, nullptr, nullptr, nullptr);
       }),
       -7},
      {"gives nothing", Create([](HVModule *) { return V_OK; }), V_E_FAILED},
      {"gives a string",
       Create([](HVModule *ph) { return VStringCreateFromStrOrCharsW(L"not a module", -1, ph); }),
       V_E_ARGUMENT},
  };
  for (const Row &row : rows) {
    HVModule slot = nullptr;
    EXPECT_EQ(row.expected, VModuleRegister(row.create, &slot)) << row.what;
    EXPECT_EQ(row.expected, vfw::GetLastError().code) << "the create's own failure stays reported";
    EXPECT_EQ(nullptr, slot) << row.what;
  }
}

}  // namespace
