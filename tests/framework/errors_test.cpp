// The per-thread last error, save/restore and suppress. Platform errors are checked by the
// Bluetooth tests (code and call stack) and the command's tests (the platform's text); the report
// counter where the module reports a failed registration.
#include <thread>

#include "framework_test.h"

namespace {

using ErrorsTest = FrameworkTest;

TEST_F(ErrorsTest, LastErrorBelongsToItsThread) {
  EXPECT_EQ(-7, VErrorSetLastW(-7, L"main", L"hMain", nullptr, nullptr, nullptr));
  std::thread other([] {
    EXPECT_EQ(0, vfw::GetLastError().code) << "a new thread starts without a last error";
    VErrorSetLastMPNA(-30, "other", nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(L"other", vfw::GetLastError().message);
  });
  other.join();
  const vfw::LastError last = vfw::GetLastError();
  EXPECT_EQ(-7, last.code);
  EXPECT_EQ(L"main", last.message);
  EXPECT_EQ(L"hMain", last.parameterName);
}

TEST_F(ErrorsTest, SavedErrorIsRestoredAndSuppressOnlyClearsItsCode) {
  VErrorSetLastW(-1, L"saved", L"p", L"   at recv\r\n", nullptr, nullptr);
  vfw::Handle saved;
  ASSERT_EQ(V_OK, VErrorGetLastEx(0, saved.put()));
  ASSERT_TRUE(saved);

  VErrorSetLastW(-15, L"later", nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(V_OK, VErrorSuppress(-1));
  EXPECT_EQ(-15, vfw::GetLastError().code) << "another code is not suppressed";
  EXPECT_EQ(V_OK, VErrorSuppress(-15));
  EXPECT_EQ(0, vfw::GetLastError().code);

  ASSERT_EQ(V_OK, VErrorSetLastEx(saved.get(), 2));
  const vfw::LastError restored = vfw::GetLastError();
  EXPECT_EQ(-1, restored.code);
  EXPECT_EQ(L"saved", restored.message);
  EXPECT_EQ(L"p", restored.parameterName);
  EXPECT_EQ(L"   at recv\r\n", restored.callStack);

  ASSERT_EQ(V_OK, VErrorSetLastEx(nullptr, 2));
  vfw::Handle none;
  ASSERT_EQ(V_OK, VErrorGetLastEx(0, none.put()));
  EXPECT_FALSE(none) << "restoring null leaves no last error";
}

}  // namespace
