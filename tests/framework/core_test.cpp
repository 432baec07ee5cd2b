// The last error, strings, waits and monitors, beyond what the module's
// tests show through its captures.
#include <functional>
#include <thread>
#include <vector>

#include "framework_test.h"

namespace {

using CoreTest = FrameworkTest;

TEST_F(CoreTest, LastErrorBelongsToItsThread) {
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

// The module keeps its caller's error across its opening exchange this way.
TEST_F(CoreTest, SavedErrorIsRestoredAndSuppressOnlyClearsItsCode) {
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

// The corners of what the module builds its strings with: lengths, Latin-1
// model text, a negative serial number in hex.
TEST_F(CoreTest, StringsTakeLengthsLatin1AndFormats) {
  const struct {
    std::function<VResult(HVString *)> create;
    std::wstring expected;
  } rows[] = {
      // clang-format off
      {[](HVString *h) { return VStringCreateFromStrOrCharsW(L"abcdef", 3, h); },                  L"abc"},
      {[](HVString *h) { return VStringCreateFromStrOrCharsW(L"abc", -1, h); },                    L"abc"},
      {[](HVString *h) { return VStringCreateFromStrOrCharsA("\xC4rger", -1, h); },                L"\u00C4rger"},
      {[](HVString *h) { return VStringCreateFromStrOrCharsA("a\0b", 3, h); },                     std::wstring(L"a\0b", 3)},
      {[](HVString *h) { VStringWrapper w; return VStringCreateWrapperW(L"wrapped", -1, &w, h); }, L"wrapped"},
      {[](HVString *h) { return VStringFormatW(h, L"{I:H8}", -2); },                               L"FFFFFFFE"},
      {[](HVString *h) { return VStringFormatW(h, L"{AS} and {S}", "caf\xE9", L"Cafe"); },         L"caf\u00E9 and Cafe"},
      // clang-format on
  };
  for (const auto &row : rows) {
    vfw::Handle text;
    ASSERT_EQ(V_OK, row.create(text.put())) << vfw::ToUtf8(row.expected);
    EXPECT_EQ(row.expected, vfw::ToWString(text.get()));
  }
}

// The module's tests park a stopper on a capture's end by this count, and
// the woken waiter drops the last reference while the setter returns.
TEST_F(CoreTest, ParkedWaiterIsSeenAndWokenBySet) {
  HVSyncEvent event = nullptr;
  ASSERT_EQ(V_OK, VSyncEventCreate(V_FALSE, V_FALSE, &event));
  const VInt64 parked = VTestGetBlockedWaitCount();
  std::thread waiter([event] {
    EXPECT_EQ(V_OK, VWaitObjectWaitFor(event));
    EXPECT_EQ(V_OK, VObjectUnref(event));
  });
  while (VTestGetBlockedWaitCount() == parked) {
    std::this_thread::yield();
  }
  ASSERT_EQ(V_OK, VSyncEventSet(event));
  waiter.join();
  EXPECT_EQ(parked, VTestGetBlockedWaitCount());
}

TEST_F(CoreTest, MonitorIsRecursiveAndExcludesOtherThreads) {
  VMonitor monitor{};
  ASSERT_EQ(V_OK, VMonitorInit(&monitor));
  int counter = 0;  // deliberately plain: the monitor is its only guard
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        VMonitorEnter(&monitor);
        VMonitorEnter(&monitor);  // a second enter on the same thread must not deadlock
        ++counter;
        VMonitorExit(&monitor);
        VMonitorExit(&monitor);
      }
    });
  }
  for (std::thread &thread : threads) {
    thread.join();
  }
  EXPECT_EQ(4000, counter);
  EXPECT_EQ(V_OK, VMonitorDispose(&monitor));
  EXPECT_EQ(V_OK, VMonitorDispose(&monitor)) << "disposing twice is harmless";
}

}  // namespace
