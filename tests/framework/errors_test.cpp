// The per-thread last error: recording, platform errors, save/restore and suppress. The report
// counter is checked where the module reports a failed registration.
#include <cerrno>
#include <system_error>
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

TEST_F(ErrorsTest, PlatformErrorsKeepThePlatformCodeAndItsText) {
  struct Row {
    VInt32 platformCode;
    const wchar_t *message;
    const wchar_t *expectedMessage;
  };
  // The platform's own text for the code: strerror's on POSIX, the system
  // message table's on Windows.
  const std::string text = std::system_category().message(ECONNREFUSED);
  const std::wstring refused(text.begin(), text.end());
  for (const Row &row :
       {Row{ECONNREFUSED, nullptr, refused.c_str()}, Row{10060, L"Given text", L"Given text"}}) {
    EXPECT_EQ(V_E_WIN32,
              VErrorSetWin32W(row.platformCode, row.message, nullptr, L"   at connect\r\n", V_TRUE));
    const vfw::LastError last = vfw::GetLastError();
    EXPECT_EQ(V_E_WIN32, last.code);
    EXPECT_EQ(row.platformCode, last.platformCode);
    EXPECT_EQ(row.expectedMessage, last.message);
    EXPECT_EQ(L"   at connect\r\n", last.callStack);
  }
}

TEST_F(ErrorsTest, MissingTextsReadBackAsNullStrings) {
  VErrorSetLastMPNA(-3, nullptr, nullptr, nullptr, nullptr, nullptr);
  vfw::Handle error;
  ASSERT_EQ(V_OK, VErrorGetLastEx(0, error.put()));
  VResult code = 0;
  ASSERT_EQ(V_OK, VErrorGetCode(error.get(), &code));
  EXPECT_EQ(-3, code);
  vfw::Handle text = vfw::MakeString(L"stale");
  ASSERT_EQ(V_OK, VErrorGetMessageW(error.get(), text.put()));
  EXPECT_FALSE(text);
  ASSERT_EQ(V_OK, VErrorGetParameterNameW(error.get(), text.put()));
  EXPECT_FALSE(text);
}

}  // namespace
