// The fixture every framework test uses: it starts from a clean slate of test controls and
// checks that a test leaves no object, allocation, monitor or event behind.
#ifndef VFW_TESTS_FRAMEWORK_TEST_H
#define VFW_TESTS_FRAMEWORK_TEST_H

#include <gtest/gtest.h>

#include "framework/v_support.h"
#include "framework/v_test_controls.h"

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VTestClearFailures();
    VTestResetCalls();
    VErrorClearLast();
    objects_ = VTestGetLiveObjectCount();
    allocations_ = VTestGetOutstandingAllocationCount();
    monitors_ = VTestGetLiveMonitorCount();
    events_ = VTestGetLiveEventCount();
  }
  void TearDown() override {
    VTestClearFailures();
    VTestSetCallLog(V_FALSE);
    EXPECT_EQ(objects_, VTestGetLiveObjectCount()) << "objects leaked";
    EXPECT_EQ(allocations_, VTestGetOutstandingAllocationCount()) << "allocations leaked";
    EXPECT_EQ(monitors_, VTestGetLiveMonitorCount()) << "monitors leaked";
    EXPECT_EQ(events_, VTestGetLiveEventCount()) << "events leaked";
  }

  VInt64 objects_ = 0, allocations_ = 0, monitors_ = 0, events_ = 0;
};

#endif  // VFW_TESTS_FRAMEWORK_TEST_H
