// Greyscale image files: PNG through libpng and binary PGM (P5), written for
// a captured image and read for the emulator's --image.
#ifndef BLUEFIN_TOOLS_IMAGE_FILES_H
#define BLUEFIN_TOOLS_IMAGE_FILES_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/failure.h"

namespace bluefin::tool {

enum class ImageFormat { kPng, kPgm };

// By the file name's extension, ".png" or ".pgm" in any case; none for any
// other name.
std::optional<ImageFormat> FormatFromPath(std::string_view path);

// 8-bit grey pixels in rows stride bytes apart, row 0 at the top.
struct GreyImageView {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t stride = 0;
  const std::uint8_t *pixels = nullptr;
  // Dots per inch; 0 when unknown. PNG keeps it (as pixels per metre), PGM
  // has no place for it.
  double horizontalDpi = 0;
  double verticalDpi = 0;
};

// Writes the file, replacing one that exists only once the new one is
// complete (see ReplacementFile); on failure says why and leaves the old
// file as it was.
bool WriteImage(const std::string &path, ImageFormat format, const GreyImageView &image, Failure *failure);

struct GreyImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // width * height bytes, no padding
};

// Reads a PNG (converted to 8-bit grey if it is not) or a binary PGM, told
// apart by their first bytes. Images wider or taller than kMaxImageSide
// pixels are refused before anything is allocated for them.
inline constexpr std::uint32_t kMaxImageSide = 4096;
std::optional<GreyImage> ReadImage(const std::string &path, Failure *failure);

// The PGM reader on bytes already in memory; name appears in messages.
std::optional<GreyImage> ParsePgm(std::string_view bytes, std::string_view name, Failure *failure);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_IMAGE_FILES_H
