// Image files as the command writes them for a capture and reads them for
// the emulator: names, PGM parsing, and round trips through both formats.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <fstream>

#include "test_support.h"
#include "tools/image_files.h"

namespace bluefin::tool {
namespace {

using test::ReadPngFile;
using test::ScratchDir;

TEST(ToolImageFiles, FormatComesFromTheExtensionAlone) {
  const struct {
    const char *path;
    std::optional<ImageFormat> format;
  } cases[] = {
      // clang-format off
      {"finger.png",     ImageFormat::kPng},
      {"out/A.PNG",      ImageFormat::kPng},
      {"x.y.pgm",        ImageFormat::kPgm},
      {"/tmp/F.Pgm",     ImageFormat::kPgm},
      {"finger.jpg",     std::nullopt},
      {"finger",         std::nullopt},
      {".png",           std::nullopt},
      {"dir.png/finger", std::nullopt},
      {"finger.png.",    std::nullopt},
      {"finger.pngx",    std::nullopt},
      // clang-format on
  };
  for (const auto &row : cases) {
    EXPECT_EQ(FormatFromPath(row.path), row.format) << row.path;
  }
}

TEST(ToolImageFiles, PgmHeadersWithCommentsAndShortRangesParse) {
  // The byte after the header is a pixel even when it looks like blank.
  const std::string tight = std::string("P5 2 1 255\n") + "\n\t";
  Failure failure;
  std::optional<GreyImage> image = ParsePgm(tight, "tight", &failure);
  ASSERT_TRUE(image) << failure.message;
  EXPECT_EQ(image->pixels, (std::vector<std::uint8_t>{'\n', '\t'}));

  const std::string commented =
      std::string("P5\n# made by hand\n2 # width\n2\n3\n") + '\0' + '\1' + '\2' + '\3';
  image = ParsePgm(commented, "commented", &failure);
  ASSERT_TRUE(image) << failure.message;
  EXPECT_EQ(image->width, 2u);
  EXPECT_EQ(image->height, 2u);
  EXPECT_EQ(image->pixels, (std::vector<std::uint8_t>{0, 85, 170, 255}));
}

TEST(ToolImageFiles, MalformedPgmIsRefusedWithAReason) {
  const struct {
    std::string bytes;
    const char *reason;
  } cases[] = {
      // clang-format off
      {"P2 2 2 255\n0 0 0 0",        "not a binary PGM"},
      {"P5 2 2\n",                   "malformed PGM header"},
      {"P5 2 x 255\n",               "malformed PGM header"},
      {"P5 2 2 255",                 "malformed PGM header"},
      {"P5 99999999999 2 255\nxxxx", "malformed PGM header"},
      {"P5 0 2 255\n",               "out of range"},
      {"P5 5000 2 255\n",            "out of range"},
      {"P5 2 2 65535\nxxxxxxxx",     "is not 1 to 255"},
      {"P5 2 2 0\nxxxx",             "is not 1 to 255"},
      {"P5 2 2 255\nxyz",            "truncated"},
      {"P5 2 1 3\n\x01\x04",         "exceeds the maximum value"},
      // clang-format on
  };
  for (const auto &row : cases) {
    Failure failure;
    EXPECT_FALSE(ParsePgm(row.bytes, "bad.pgm", &failure)) << row.bytes;
    EXPECT_EQ(failure.code, V_E_INVALID_DATA) << row.bytes;
    EXPECT_NE(failure.message.find(row.reason), std::string::npos) << row.bytes << " -> " << failure.message;
    EXPECT_EQ(failure.message.rfind("Cannot read bad.pgm: ", 0), 0u) << failure.message;
  }
}

// Rows with padding after each one, filled with junk that must not leak
// into a file.
struct PaddedImage {
  static constexpr std::uint32_t kWidth = 7;
  static constexpr std::uint32_t kHeight = 5;
  static constexpr std::uint32_t kStride = 12;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kStride * kHeight, 0xEE);
  std::vector<std::uint8_t> expected;

  PaddedImage() {
    for (std::uint32_t y = 0; y < kHeight; ++y) {
      for (std::uint32_t x = 0; x < kWidth; ++x) {
        buffer[y * kStride + x] = static_cast<std::uint8_t>(y * 40 + x);
        expected.push_back(static_cast<std::uint8_t>(y * 40 + x));
      }
    }
  }
  GreyImageView View() const { return {kWidth, kHeight, kStride, buffer.data(), 508, 254}; }
};

TEST(ToolImageFiles, BothFormatsDropThePaddingAndReadBack) {
  ScratchDir dir;
  const PaddedImage image;
  Failure failure;
  for (const char *name : {"x.png", "x.pgm"}) {
    ASSERT_TRUE(WriteImage(dir / name, *FormatFromPath(name), image.View(), &failure)) << failure.message;
    std::optional<GreyImage> back = ReadImage(dir / name, &failure);
    ASSERT_TRUE(back) << failure.message;
    EXPECT_EQ(back->pixels, image.expected) << name;
  }
  // The PNG as libpng itself reads it: 8-bit grey; 20000 and 10000 pixels
  // per metre, 508 and 254 dpi.
  const test::PngFile png = ReadPngFile(dir / "x.png");
  EXPECT_EQ(png.width, PaddedImage::kWidth);
  EXPECT_EQ(png.height, PaddedImage::kHeight);
  EXPECT_EQ(png.format, PNG_FORMAT_GRAY);
  EXPECT_EQ(png.pixels, image.expected);
  EXPECT_EQ(png.phys, std::string("\0\0\x4e\x20\0\0\x27\x10\x01", 9));
  // The PGM is the bare format: no comment, no resolution.
  EXPECT_EQ(test::FileText(dir / "x.pgm"),
            "P5\n7 5\n255\n" + std::string(image.expected.begin(), image.expected.end()));
}

TEST(ToolImageFiles, FileFailuresSayWhichFileAndWhyAndLeaveNothing) {
  ScratchDir dir;
  const PaddedImage image;
  Failure failure;
  EXPECT_FALSE(ReadImage(dir / "absent.pgm", &failure));
  EXPECT_EQ(failure.code, V_E_WIN32);
  std::ofstream(dir / "notes.txt") << "hello";
  EXPECT_FALSE(ReadImage(dir / "notes.txt", &failure));
  EXPECT_EQ(failure.code, V_E_INVALID_DATA);
  std::ofstream(dir / "cut.png", std::ios::binary) << std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  EXPECT_FALSE(ReadImage(dir / "cut.png", &failure));
  EXPECT_EQ(failure.code, V_E_INVALID_DATA);
}

}  // namespace
}  // namespace bluefin::tool
