// Shared by the command's unit and command tests: a scratch directory,
// addresses no other test listens on, and a PNG reader.
#ifndef BLUEFIN_TESTS_TOOLS_TEST_SUPPORT_H
#define BLUEFIN_TESTS_TOOLS_TEST_SUPPORT_H

#include <png.h>
#include <stdlib.h>

#include <gmock/gmock.h>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/emulator/unique_address.h"

namespace bluefin::tool::test {

using emu::test::UniqueAddress;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// A fresh directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bluefin-tool-XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::filesystem::path &path() const { return path_; }
  std::string operator/(const std::string &name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string FileText(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

struct PngFile {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t format = ~0u;        // as stored: PNG_FORMAT_GRAY is 8-bit grey
  std::vector<std::uint8_t> pixels;  // as 8-bit grey, rows back to back
  std::string phys;                  // the pHYs chunk's nine bytes; empty without one
};

// The file as libpng reads it; fails the current test when libpng refuses it.
inline PngFile ReadPngFile(const std::string &path) {
  PngFile file;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) != 0) {
    file.width = image.width;
    file.height = image.height;
    file.format = image.format;
    image.format = PNG_FORMAT_GRAY;
    file.pixels.resize(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, file.pixels.data(), 0, nullptr);
  }
  EXPECT_EQ(image.warning_or_error & PNG_IMAGE_ERROR, 0u) << path << ": " << image.message;
  const std::string bytes = FileText(path);
  if (const std::size_t at = bytes.find("pHYs"); at != std::string::npos) {
    file.phys = bytes.substr(at + 4, 9);
  }
  return file;
}

}  // namespace bluefin::tool::test

#endif  // BLUEFIN_TESTS_TOOLS_TEST_SUPPORT_H
