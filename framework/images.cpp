// Images with one contiguous, zero-filled pixel buffer (8-bit greyscale only).
#include <limits>
#include <memory>

#include "calls.h"
#include "objects.h"
#include "v_media.h"

namespace vfw::detail {
namespace {

// Large enough for any scanner image, small enough that a wrong width or stride is refused
// instead of exhausting the heap.
constexpr std::size_t kMaxImageBytes = std::size_t{1} << 28;

struct ImageObject : ObjectHeader {
  ImageObject(VUInt32 imageWidth, VUInt32 imageHeight, VUInt32 imageStride, std::size_t bytes)
      : ObjectHeader(Type()),
        width(imageWidth),
        height(imageHeight),
        stride(imageStride),
        pixels(new unsigned char[bytes]()) {}
  static const TypeInfo *Type() {
    static const TypeInfo *type = MakeBuiltinType<ImageObject>(L"VImage");
    return type;
  }

  const VUInt32 width;
  const VUInt32 height;
  const VUInt32 stride;
  const std::unique_ptr<unsigned char[]> pixels;
  // Written by the image's owner before it shares the image; readers come after.
  VFloat horzResolution = 0.0f;
  VFloat vertResolution = 0.0f;
};

template <class T, class Read>
VResult ReadImage(HVImage hImage, T *pValue, Read read) {
  ImageObject *image = nullptr;
  VResult result = Unwrap(hImage, L"hImage", &image);
  if (VFailed(result)) {
    return result;
  }
  if (pValue == nullptr) {
    return ArgumentNull(L"pValue");
  }
  *pValue = read(*image);
  return V_OK;
}

VResult SetResolution(HVImage hImage, VFloat value, VFloat ImageObject::*field) {
  ImageObject *image = nullptr;
  VResult result = Unwrap(hImage, L"hImage", &image);
  if (VFailed(result)) {
    return result;
  }
  if (!(value >= 0.0f) || value > std::numeric_limits<VFloat>::max()) {
    return SetLastError(V_E_ARGUMENT_OUT_OF_RANGE, L"value is not a valid resolution", L"value");
  }
  image->*field = value;
  return V_OK;
}

}  // namespace
}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult V_CALL VImageTypeOf(HVType *phType) {
  return Counted(__func__, [&] { return HandOutType(ImageObject::Type(), phType); });
}

V_API VResult V_CALL VImageCreateEx(VUInt32 pixelFormat, VUInt32 width, VUInt32 height, VUInt32 stride,
                                    void *, HVImage *phImage) {
  return Counted(__func__, [&] {
    if (pixelFormat != V_PIXEL_FORMAT_GRAYSCALE_8U) {
      return SetLastError(V_E_NOT_SUPPORTED, L"Only 8-bit greyscale images are supported", L"pixelFormat");
    }
    if (width == 0 || height == 0) {
      return SetLastError(V_E_ARGUMENT_OUT_OF_RANGE, L"An image needs at least one pixel",
                          width == 0 ? L"width" : L"height");
    }
    if (stride < width) {
      return SetLastError(V_E_ARGUMENT, L"stride is smaller than width", L"stride");
    }
    if (phImage == nullptr) {
      return ArgumentNull(L"phImage");
    }
    const std::size_t bytes =
        static_cast<std::size_t>(stride) * height;  // both below 2^32: no overflow in 64 bits
    if (bytes / height != stride || bytes > kMaxImageBytes) {
      return SetLastError(V_E_ARGUMENT_OUT_OF_RANGE, L"The image is too large", L"height");
    }
    *phImage = ToHandle(NewObject<ImageObject>(width, height, stride, bytes));
    return V_OK;
  });
}

V_API VResult V_CALL VImageSetHorzResolution(HVImage hImage, VFloat value) {
  return Counted(__func__, [&] { return SetResolution(hImage, value, &ImageObject::horzResolution); });
}

V_API VResult V_CALL VImageSetVertResolution(HVImage hImage, VFloat value) {
  return Counted(__func__, [&] { return SetResolution(hImage, value, &ImageObject::vertResolution); });
}

V_API VResult V_CALL VImageGetPixelsPtr(HVImage hImage, void **ppPixels) {
  return Counted(__func__, [&] {
    ImageObject *image = nullptr;
    VResult result = Unwrap(hImage, L"hImage", &image);
    if (VFailed(result)) {
      return result;
    }
    if (ppPixels == nullptr) {
      return ArgumentNull(L"ppPixels");
    }
    *ppPixels = image->pixels.get();
    return V_OK;
  });
}

V_API VResult V_CALL VImageGetPixelFormat(HVImage hImage, VUInt32 *pValue) {
  return Shielded([&] {
    return ReadImage(hImage, pValue, [](const ImageObject &) { return V_PIXEL_FORMAT_GRAYSCALE_8U; });
  });
}

V_API VResult V_CALL VImageGetWidth(HVImage hImage, VUInt32 *pValue) {
  return Shielded([&] { return ReadImage(hImage, pValue, [](const ImageObject &i) { return i.width; }); });
}

V_API VResult V_CALL VImageGetHeight(HVImage hImage, VUInt32 *pValue) {
  return Shielded([&] { return ReadImage(hImage, pValue, [](const ImageObject &i) { return i.height; }); });
}

V_API VResult V_CALL VImageGetStride(HVImage hImage, VUInt32 *pValue) {
  return Shielded([&] { return ReadImage(hImage, pValue, [](const ImageObject &i) { return i.stride; }); });
}

V_API VResult V_CALL VImageGetHorzResolution(HVImage hImage, VFloat *pValue) {
  return Shielded(
      [&] { return ReadImage(hImage, pValue, [](const ImageObject &i) { return i.horzResolution; }); });
}

V_API VResult V_CALL VImageGetVertResolution(HVImage hImage, VFloat *pValue) {
  return Shielded(
      [&] { return ReadImage(hImage, pValue, [](const ImageObject &i) { return i.vertResolution; }); });
}
