// Biometric status: which statuses end a capture. Images themselves are checked through the
// module's captures, which compare every pixel and the resolution.
#include "framework_test.h"
#include "v_biometrics.h"

namespace {

TEST(BiometricStatusTest, OnlyNoneAndObjectMissingKeepACaptureGoing) {
  struct Row {
    VBiometricStatus status;
    VBool final;
  };
  for (const Row &row : {Row{0, 0}, Row{22, 0}, Row{1, 1}, Row{2, 1}, Row{23, 1}, Row{99, 1}, Row{-1, 1}}) {
    EXPECT_EQ(row.final, VBiometricStatusIsFinal(row.status) != V_FALSE ? 1 : 0) << row.status;
  }
}

}  // namespace
