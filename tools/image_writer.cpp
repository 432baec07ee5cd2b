#include <png.h>

#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "tools/image_files.h"
#include "tools/output_files.h"

namespace bluefin::tool {
namespace {

constexpr double kMetresPerInch = 0.0254;

// Where libpng's error callback leaves its message before it jumps back.
struct PngErrorText {
  char text[200];
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto *error = static_cast<PngErrorText *>(png_get_error_ptr(png));
  std::snprintf(error->text, sizeof(error->text), "%s", message);
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

png_uint_32 PixelsPerMetre(double dpi) {
  return dpi > 0 ? static_cast<png_uint_32>(std::lround(dpi / kMetresPerInch)) : 0;
}

// libpng reports failures by longjmp, so this frame holds nothing that needs
// a destructor, and nothing it changes after setjmp is read after the jump.
bool WritePngStream(std::FILE *file, const GreyImageView &image, PngErrorText *error) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, OnPngError, OnPngWarning);
  if (png == nullptr) {
    std::snprintf(error->text, sizeof(error->text), "libpng could not start");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    std::snprintf(error->text, sizeof(error->text), "libpng could not start");
    return false;
  }
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  const png_uint_32 horizontal = PixelsPerMetre(image.horizontalDpi);
  const png_uint_32 vertical = PixelsPerMetre(image.verticalDpi);
  if (horizontal != 0 && vertical != 0) {
    png_set_pHYs(png, info, horizontal, vertical, PNG_RESOLUTION_METER);
  }
  png_write_info(png, info);
  for (std::uint32_t row = 0; row < image.height; ++row) {
    png_write_row(png, image.pixels + static_cast<std::size_t>(row) * image.stride);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool WritePgmStream(std::FILE *file, const GreyImageView &image) {
  if (std::fprintf(file, "P5\n%u %u\n255\n", image.width, image.height) < 0) {
    return false;
  }
  for (std::uint32_t row = 0; row < image.height; ++row) {
    const std::uint8_t *pixels = image.pixels + static_cast<std::size_t>(row) * image.stride;
    if (std::fwrite(pixels, 1, image.width, file) != image.width) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<ImageFormat> FormatFromPath(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) {
    return std::nullopt;  // no extension; ".png" alone is a hidden file's name
  }
  std::string extension(name.substr(dot + 1));
  for (char &c : extension) {
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  if (extension == "png") {
    return ImageFormat::kPng;
  }
  if (extension == "pgm") {
    return ImageFormat::kPgm;
  }
  return std::nullopt;
}

bool WriteImage(const std::string &path, ImageFormat format, const GreyImageView &image, Failure *failure) {
  if (image.pixels == nullptr || image.width == 0 || image.height == 0 || image.stride < image.width) {
    *failure = Failure{V_E_ARGUMENT, "Cannot write " + path + ": the image has no pixels"};
    return false;
  }
  ReplacementFile file;
  if (!file.Open(path, failure)) {
    return false;
  }
  PngErrorText pngError{};
  errno = 0;
  const bool written = format == ImageFormat::kPng ? WritePngStream(file.Stream(), image, &pngError)
                                                   : WritePgmStream(file.Stream(), image);
  const int error = errno;
  if (written) {
    return file.Commit(failure);
  }
  file.Abandon();
  // libpng turns a failed fwrite into its own "Write Error"; the errno
  // behind it says more.
  if (error == 0 && pngError.text[0] != '\0') {
    *failure = Failure{V_E_FAILED, "Cannot write " + path + ": " + pngError.text};
  } else {
    *failure = FileFailure("Cannot write", path, error != 0 ? error : EIO);
  }
  return false;
}

}  // namespace bluefin::tool
