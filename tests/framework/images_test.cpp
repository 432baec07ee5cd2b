// Images and biometric status.
#include "framework_test.h"
#include "v_biometrics.h"
#include "v_media.h"

namespace {

using ImagesTest = FrameworkTest;

TEST_F(ImagesTest, CreationChecksFormatAndGeometry) {
  struct Row {
    VUInt32 format, width, height, stride;
    VResult expected;
  };
  const Row rows[] = {
      {V_PIXEL_FORMAT_GRAYSCALE_8U, 256, 360, 256, V_OK},
      {V_PIXEL_FORMAT_GRAYSCALE_8U, 3, 2, 8, V_OK},
      {V_PIXEL_FORMAT_GRAYSCALE_8U, 256, 360, 255, V_E_ARGUMENT},
      {V_PIXEL_FORMAT_GRAYSCALE_8U, 0, 360, 256, V_E_ARGUMENT_OUT_OF_RANGE},
      {V_PIXEL_FORMAT_GRAYSCALE_8U, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, V_E_ARGUMENT_OUT_OF_RANGE},
      {0x303003u, 256, 360, 768, V_E_NOT_SUPPORTED},
  };
  for (const Row &row : rows) {
    vfw::Handle image;
    ASSERT_EQ(row.expected,
              VImageCreateEx(row.format, row.width, row.height, row.stride, nullptr, image.put()))
        << row.width << "x" << row.height << " stride " << row.stride;
    if (VFailed(row.expected)) {
      EXPECT_FALSE(image);
      continue;
    }
    VUInt32 width = 0, height = 0, stride = 0, format = 0;
    ASSERT_EQ(V_OK, VImageGetWidth(image.get(), &width));
    ASSERT_EQ(V_OK, VImageGetHeight(image.get(), &height));
    ASSERT_EQ(V_OK, VImageGetStride(image.get(), &stride));
    ASSERT_EQ(V_OK, VImageGetPixelFormat(image.get(), &format));
    EXPECT_EQ(row.width, width);
    EXPECT_EQ(row.height, height);
    EXPECT_EQ(row.stride, stride);
    EXPECT_EQ(row.format, format);
    unsigned char *pixels = nullptr;
    ASSERT_EQ(V_OK, VImageGetPixelsPtr(image.get(), reinterpret_cast<void **>(&pixels)));
    const std::size_t bytes = std::size_t{row.stride} * row.height;
    EXPECT_EQ(std::vector<unsigned char>(bytes), std::vector<unsigned char>(pixels, pixels + bytes));
    pixels[bytes - 1] = 0xFF;  // the whole buffer is writable (ASan checks the bound)
    EXPECT_EQ(V_E_ARGUMENT_OUT_OF_RANGE, VImageSetHorzResolution(image.get(), -1.0f));
  }
}

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
