/*
 * The image a transfer fills: 256 x 360 pixels of 8-bit grey at 508 in both
 * directions, rows one after another, pre-filled with a checkerboard so that
 * the rows not yet received are plain to see in every progress report.
 */
#include "bluefin/bluefin.h"
#include "bluefin/protocol.h"
#include "support/errors.h"
#include "support/results.h"

using namespace vdm::bluefin;

namespace {

// Pixel i lies in square row i / (8 rows of 256) and square column i / 8;
// the parities of the two pick the grey.
void FillBackground(VUInt8 *pPixels) {
  constexpr VInt32 kSquareRowPixels = kBackgroundSquareSize * static_cast<VInt32>(kImageStride);
  for (VInt32 i = 0; i < kImagePixelCount; ++i) {
    const bool odd = (((i / kSquareRowPixels) ^ (i / kBackgroundSquareSize)) & 1) != 0;
    pPixels[i] = odd ? kBackgroundOdd : kBackgroundEven;
  }
}

}  // namespace

VResult V_CALL BlueFinCreateImage(HVImage *phImage) {
  if (phImage == nullptr) {
    return vdm::ArgumentNull(L"phImage");
  }
  HVImage hImage = nullptr;
  void *pPixels = nullptr;
  VResult result;
  if (VSucceeded(result = VImageCreateEx(V_PIXEL_FORMAT_GRAYSCALE_8U, kImageWidth, kImageHeight, kImageStride,
                                         nullptr, &hImage)) &&
      VSucceeded(result = VImageSetHorzResolution(hImage, kImageResolution)) &&
      VSucceeded(result = VImageSetVertResolution(hImage, kImageResolution)) &&
      VSucceeded(result = VImageGetPixelsPtr(hImage, &pPixels))) {
    FillBackground(static_cast<VUInt8 *>(pPixels));
    *phImage = hImage;
    hImage = nullptr;
    result = V_OK;
  }
  // Only a half-made image is released: a failing release of an empty slot
  // must not fail a call that has already handed the image out.
  return vdm::ReleaseHalfMade(result, &hImage);
}
