// The fixture every framework test uses: it starts from a clean slate of test controls and
// checks that a test leaves no object, allocation, monitor or event behind.
#ifndef VFW_TESTS_FRAMEWORK_TEST_H
#define VFW_TESTS_FRAMEWORK_TEST_H

#include <gtest/gtest.h>

#include "framework/v_support.h"
#include "framework/v_test_controls.h"
#include "tests/host_footprint.h"

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VTestClearFailures();
    VTestResetCalls();
    VErrorClearLast();
    before_ = vdm::test::HostFootprint{};
  }
  void TearDown() override {
    VTestClearFailures();
    VTestSetCallLog(V_FALSE);
    EXPECT_EQ(vdm::test::HostFootprint{}, before_) << "the test left host objects behind";
  }

  vdm::test::HostFootprint before_;
};

#endif  // VFW_TESTS_FRAMEWORK_TEST_H
