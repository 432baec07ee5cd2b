// Failure injection, the call log and the leak counters. Every failure sweep
// and leak check of the other suites stands on them, and would pass
// vacuously if they stopped injecting or counting.
#include <string>
#include <vector>

#include "framework_test.h"

namespace {

using TestControlsTest = FrameworkTest;

// Creates a string and reports the result, leaving nothing behind.
VResult CreateString() {
  HVString text = nullptr;
  VResult result = VStringCreateFromStrOrCharsW(L"x", -1, &text);
  if (VSucceeded(result)) {
    EXPECT_NE(nullptr, text);
    VObjectUnref(text);
  } else {
    EXPECT_EQ(nullptr, text) << "an injected failure does nothing else";
  }
  return result;
}

TEST_F(TestControlsTest, NthCallFailsOnceOrFromThenOn) {
  struct Row {
    VBool persistent;
    std::vector<VResult> expected;  // five string creations, each two counted calls
  };
  // Creation n is counted call 2n - 1 (its VObjectUnref is 2n): failing call 3 hits creation 2.
  for (const Row &row : {Row{V_FALSE, {0, -7, 0, 0, 0}}, Row{V_TRUE, {0, -7, -7, -7, -7}}}) {
    VTestResetCalls();
    VTestFailCall(3, -7, row.persistent);
    std::vector<VResult> results;
    for (int i = 0; i < 5; ++i) {
      results.push_back(CreateString());
    }
    VTestClearFailures();
    EXPECT_EQ(row.expected, results) << "persistent " << row.persistent;
    const vfw::LastError last = vfw::GetLastError();
    EXPECT_EQ(-7, last.code);
    EXPECT_EQ(L"Injected failure in VStringCreateFromStrOrCharsW", last.message);
  }
}

TEST_F(TestControlsTest, NamedFunctionFailsOnItsNthCallOnly) {
  char buffer[4] = {};
  VTestFailFunction("VCopy", 2, V_E_OUT_OF_MEMORY, V_FALSE);
  EXPECT_EQ(V_OK, VCopy(buffer, "abc", 4));
  EXPECT_EQ(V_OK, CreateString()) << "other functions are not affected";
  EXPECT_EQ(V_E_OUT_OF_MEMORY, VCopy(buffer, "xyz", 4));
  EXPECT_STREQ("abc", buffer);
  EXPECT_EQ(V_OK, VCopy(buffer, "xyz", 4));
  EXPECT_STREQ("xyz", buffer);
}

TEST_F(TestControlsTest, InjectedStoreDoesNothingButAnInjectedReleaseStillReleases) {
  HVString slot = nullptr;
  ASSERT_EQ(V_OK, VStringCreateFromStrOrCharsW(L"held", -1, &slot));
  vfw::Handle other = vfw::MakeString(L"other");
  const VInt64 live = VTestGetLiveObjectCount();
  VTestFailFunction("VObjectSet", 1, V_E_INVALID_DATA, V_FALSE);
  EXPECT_EQ(V_E_INVALID_DATA, VObjectSet(other.get(), &slot));
  EXPECT_EQ(L"held", vfw::ToWString(slot));
  VTestFailFunction("VStringSet", 1, V_E_INVALID_DATA, V_FALSE);
  EXPECT_EQ(V_E_INVALID_DATA, VStringSet(nullptr, &slot));
  EXPECT_EQ(L"Injected failure in VStringSet", vfw::GetLastError().message);
  EXPECT_EQ(nullptr, slot);
  EXPECT_EQ(live - 1, VTestGetLiveObjectCount()) << "the injected release freed the string";
}

TEST_F(TestControlsTest, LogNamesCountedCallsOnly) {
  VTestSetCallLog(V_TRUE);
  VMonitor monitor{};
  VMonitorInit(&monitor);
  VMonitorEnter(&monitor);
  VMonitorExit(&monitor);
  VMonitorDispose(&monitor);
  VErrorSetLastW(-1, nullptr, nullptr, nullptr, nullptr, nullptr);
  vfw::Handle value;
  {
    vfw::Handle type;
    VInt32TypeOf(type.put());
    VInt32 number = 5;
    VValueCreate(type.get(), &number, sizeof number, 1, 0, value.put());
  }
  // The framework calling its own type-of function on the caller's behalf is not the caller's call.
  VInt32 out = 0;
  VValueToValueP(value.get(), VInt32TypeOf, nullptr, 0, &out, sizeof out);
  VTestSetCallLog(V_FALSE);

  const VInt32 logged = VTestGetCallLog(nullptr, 0);
  std::vector<const char *> names(static_cast<std::size_t>(logged));
  ASSERT_EQ(logged, VTestGetCallLog(names.data(), logged));
  std::vector<std::string> actual(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"VInt32TypeOf", "VValueCreate", "VObjectSet", "VValueToValueP"}),
            actual);
  EXPECT_EQ(static_cast<VUInt64>(logged), VTestGetCallCount());
}

// The fixture checks that each falls back once the test let go.
TEST_F(TestControlsTest, LeakCountersCountWhatIsAlive) {
  void *block = nullptr;
  void *zeroed = nullptr;
  ASSERT_EQ(V_OK, VAlloc(10, &block));
  ASSERT_EQ(V_OK, VCAlloc(64, &zeroed));
  const VInt64 allocations = VTestGetOutstandingAllocationCount();
  vfw::Handle event;
  ASSERT_EQ(V_OK, VSyncEventCreate(V_TRUE, V_FALSE, event.put()));
  VMonitor monitor{};
  ASSERT_EQ(V_OK, VMonitorInit(&monitor));
  EXPECT_EQ(before_.allocations + 2, allocations);
  EXPECT_EQ(before_.objects + 1, VTestGetLiveObjectCount());
  EXPECT_EQ(before_.events + 1, VTestGetLiveEventCount());
  EXPECT_EQ(before_.monitors + 1, VTestGetLiveMonitorCount());
  VFree(block);
  VFree(zeroed);
  VFree(nullptr);
  EXPECT_EQ(V_OK, VMonitorDispose(&monitor));
}

}  // namespace
