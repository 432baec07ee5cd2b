// Files as the command names and writes them for a capture and reads them
// for the emulator: the names a --count pattern gives, formats from names,
// PGM parsing, and both formats as written.
#include "test_support.h"
#include "tools/image_files.h"
#include "tools/output_files.h"

namespace bluefin::tool {
namespace {

using test::ReadPngFile;
using test::ScratchDir;

// With --count a pattern needs exactly one number; without, a name is just a
// name.
TEST(ToolOutputNames, APatternNumbersTheCapturesFromOneOrSaysWhyNot) {
  const struct {
    const char *pattern;
    std::optional<unsigned> count;
    std::vector<std::string> names;  // none when refused
    const char *reason;              // after "Output pattern <pattern> "
  } cases[] = {
      // clang-format off
      {"finger.png",        std::nullopt, {"finger.png"},                                        ""},
      {"100%.png",          std::nullopt, {"100%.png"},                                          ""},
      {"f%d.pgm",           2,            {"f1.pgm", "f2.pgm"},                                  ""},
      {"f%3d.pgm",          1,            {"f  1.pgm"},                                          ""},
      {"run%%/%d%%.png",    2,            {"run%/1%.png", "run%/2%.png"},                        ""},
      {"f%%d.png",          2,            {}, "has no %d"},
      {"f%d-%d.png",        2,            {}, "has more than one %d"},
      {"f%s.png",           2,            {}, "has a % that is neither %d nor %%"},
      {"f%.png",            2,            {}, "has a % that is neither %d nor %%"},
      {"f%",                2,            {}, "has a % that is neither %d nor %%"},
      {"f%0123456789d.png", 2,            {}, "has a % that is neither %d nor %%"},
      // clang-format on
  };
  for (const auto &row : cases) {
    Failure failure;
    const std::optional<std::vector<std::string>> names = OutputNames(row.pattern, row.count, &failure);
    EXPECT_EQ(names.value_or(std::vector<std::string>{}), row.names)
        << row.pattern << ": " << failure.message;
    if (row.reason[0] != '\0') {
      EXPECT_EQ(failure.code, V_E_ARGUMENT);
      EXPECT_EQ(failure.message, std::string("Output pattern ") + row.pattern + " " + row.reason +
                                     ": with --count it needs one number, like finger-%02d.png");
    }
  }
  Failure failure;
  EXPECT_EQ(OutputNames("f-%02d.png", 100, &failure).value_or(std::vector<std::string>{""}).back(),
            "f-100.png");
}

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

// Comments, a short range scaled to 255, and the byte after the header a
// pixel even when it looks like blank; or a reason.
TEST(ToolImageFiles, PgmIsParsedOrRefusedWithAReason) {
  const struct {
    std::string bytes;
    std::uint32_t width;
    std::vector<std::uint8_t> pixels;
    const char *reason;  // empty when it parses
  } cases[] = {
      // clang-format off
      {std::string("P5 2 1 255\n") + "\n\t",                                                  2, {'\n', '\t'},       ""},
      {std::string("P5\n# made by hand\n2 # width\n2\n3\n") + '\0' + '\1' + '\2' + '\3', 2, {0, 85, 170, 255}, ""},
      {"P2 2 2 255\n0 0 0 0",        0, {}, "not a binary PGM"},
      {"P5 2 2\n",                   0, {}, "malformed PGM header"},
      {"P5 2 x 255\n",               0, {}, "malformed PGM header"},
      {"P5 2 2 255",                 0, {}, "malformed PGM header"},
      {"P5 99999999999 2 255\nxxxx", 0, {}, "malformed PGM header"},
      {"P5 0 2 255\n",               0, {}, "out of range"},
      {"P5 5000 2 255\n",            0, {}, "out of range"},
      {"P5 2 2 65535\nxxxxxxxx",     0, {}, "is not 1 to 255"},
      {"P5 2 2 0\nxxxx",             0, {}, "is not 1 to 255"},
      {"P5 2 2 255\nxyz",            0, {}, "truncated"},
      {"P5 2 1 3\n\x01\x04",         0, {}, "exceeds the maximum value"},
      // clang-format on
  };
  for (const auto &row : cases) {
    Failure failure;
    const std::optional<GreyImage> image = ParsePgm(row.bytes, "bad.pgm", &failure);
    if (row.reason[0] == '\0') {
      ASSERT_TRUE(image) << row.bytes << " -> " << failure.message;
      EXPECT_EQ(image->width, row.width);
      EXPECT_EQ(image->height, row.pixels.size() / row.width);
      EXPECT_EQ(image->pixels, row.pixels);
      continue;
    }
    EXPECT_FALSE(image) << row.bytes;
    EXPECT_EQ(failure.code, V_E_INVALID_DATA) << row.bytes;
    EXPECT_NE(failure.message.find(row.reason), std::string::npos) << row.bytes << " -> " << failure.message;
    EXPECT_EQ(failure.message.rfind("Cannot read bad.pgm: ", 0), 0u) << failure.message;
  }
}

// Rows with padding after each one, filled with junk that must not leak
// into a file. Reading back is checked where the command reads: a PNG it
// serves and the PGMs it saved, pixel for pixel, in the emulate tests.
TEST(ToolImageFiles, BothFormatsDropThePadding) {
  constexpr std::uint32_t kWidth = 7, kHeight = 5, kStride = 12;
  std::vector<std::uint8_t> buffer(kStride * kHeight, 0xEE);
  std::vector<std::uint8_t> expected;
  for (std::uint32_t y = 0; y < kHeight; ++y) {
    for (std::uint32_t x = 0; x < kWidth; ++x) {
      buffer[y * kStride + x] = static_cast<std::uint8_t>(y * 40 + x);
      expected.push_back(buffer[y * kStride + x]);
    }
  }
  ScratchDir dir;
  Failure failure;
  const GreyImageView view{kWidth, kHeight, kStride, buffer.data(), 508, 254};
  for (const char *name : {"x.png", "x.pgm"}) {
    ASSERT_TRUE(WriteImage(dir / name, *FormatFromPath(name), view, &failure)) << failure.message;
  }
  // The PNG as libpng itself reads it: 8-bit grey; 20000 and 10000 pixels
  // per metre, 508 and 254 dpi.
  const test::PngFile png = ReadPngFile(dir / "x.png");
  EXPECT_EQ(png.width, kWidth);
  EXPECT_EQ(png.height, kHeight);
  EXPECT_EQ(png.format, PNG_FORMAT_GRAY);
  EXPECT_EQ(png.pixels, expected);
  EXPECT_EQ(png.phys, std::string("\0\0\x4e\x20\0\0\x27\x10\x01", 9));
  // The PGM is the bare format: no comment, no resolution.
  EXPECT_EQ(test::FileText(dir / "x.pgm"), "P5\n7 5\n255\n" + std::string(expected.begin(), expected.end()));
}

}  // namespace
}  // namespace bluefin::tool
