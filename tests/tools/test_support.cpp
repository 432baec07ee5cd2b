#include "test_support.h"

#include <png.h>

#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>

namespace bluefin::tool::test {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "bluefin-tool-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

namespace {

// libpng reports failures by longjmp: nothing here needs a destructor, and
// the file is the caller's.
bool DecodePng(std::FILE *stream, PngFile *file) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, stream);
  png_read_info(png, info);
  file->width = png_get_image_width(png, info);
  file->height = png_get_image_height(png, info);
  file->bitDepth = png_get_bit_depth(png, info);
  file->colorType = png_get_color_type(png, info);
  png_get_pHYs(png, info, &file->physX, &file->physY, &file->physUnit);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  file->pixels.resize(rowBytes * file->height);
  for (std::uint32_t row = 0; row < file->height; ++row) {
    png_read_row(png, file->pixels.data() + row * rowBytes, nullptr);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace

PngFile ReadPngFile(const std::string &path) {
  std::FILE *stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return PngFile{};
  }
  PngFile file;
  const bool decoded = DecodePng(stream, &file);
  std::fclose(stream);
  if (!decoded) {
    ADD_FAILURE() << "libpng cannot read " << path;
    return PngFile{};
  }
  return file;
}

}  // namespace bluefin::tool::test
