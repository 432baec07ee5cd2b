#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/image_files.h"

namespace bluefin::tool {
namespace {

constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// One byte a sample; a 16-bit PGM would need a different sample layout.
constexpr unsigned kMaxPgmValue = 255;

Failure BadImage(std::string_view name, const std::string &why) {
  return Failure{V_E_INVALID_DATA, "Cannot read " + std::string(name) + ": " + why};
}

bool CheckSize(std::uint32_t width, std::uint32_t height, std::string_view name, Failure *failure) {
  if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide) {
    *failure = BadImage(
        name, "image size " + std::to_string(width) + " x " + std::to_string(height) + " is out of range");
    return false;
  }
  return true;
}

bool ReadFile(const std::string &path, std::string *bytes, Failure *failure) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *failure = FileFailure("Cannot read", path, errno);
    return false;
  }
  char buffer[65536];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    bytes->append(buffer, count);
    if (bytes->size() > std::size_t{kMaxImageSide} * kMaxImageSide + 4096) {
      std::fclose(file);
      *failure = BadImage(path, "file is too large for an image");
      return false;
    }
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) {
    *failure = FileFailure("Cannot read", path, error);
    return false;
  }
  return true;
}

std::optional<GreyImage> DecodePng(const std::string &bytes, std::string_view name, Failure *failure) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&png, bytes.data(), bytes.size()) == 0) {
    *failure = BadImage(name, png.message);
    return std::nullopt;
  }
  if (!CheckSize(png.width, png.height, name, failure)) {
    png_image_free(&png);
    return std::nullopt;
  }
  png.format = PNG_FORMAT_GRAY;
  GreyImage image{png.width, png.height, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(png))};
  // finish_read releases the decoder whether it succeeds or not.
  if (png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr) == 0) {
    *failure = BadImage(name, png.message);
    return std::nullopt;
  }
  return image;
}

// PGM header fields are decimal numbers separated by whitespace, where a
// '#' starts a comment that runs to the end of its line.
bool IsPgmSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool ReadHeaderNumber(std::string_view bytes, std::size_t *at, std::uint32_t *value) {
  for (;;) {
    while (*at < bytes.size() && IsPgmSpace(bytes[*at])) {
      ++*at;
    }
    if (*at < bytes.size() && bytes[*at] == '#') {
      while (*at < bytes.size() && bytes[*at] != '\n') {
        ++*at;
      }
      continue;
    }
    break;
  }
  std::uint64_t number = 0;
  const std::size_t start = *at;
  while (*at < bytes.size() && bytes[*at] >= '0' && bytes[*at] <= '9') {
    number = number * 10 + static_cast<std::uint64_t>(bytes[*at] - '0');
    if (number > UINT32_MAX) {
      return false;
    }
    ++*at;
  }
  *value = static_cast<std::uint32_t>(number);
  return *at > start;
}

}  // namespace

std::optional<GreyImage> ParsePgm(std::string_view bytes, std::string_view name, Failure *failure) {
  if (bytes.substr(0, 2) != "P5") {
    *failure = BadImage(name, "not a binary PGM (P5)");
    return std::nullopt;
  }
  std::size_t at = 2;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t maxValue = 0;
  if (!ReadHeaderNumber(bytes, &at, &width) || !ReadHeaderNumber(bytes, &at, &height) ||
      !ReadHeaderNumber(bytes, &at, &maxValue)) {
    *failure = BadImage(name, "malformed PGM header");
    return std::nullopt;
  }
  // Exactly one whitespace byte ends the header; the pixels follow it.
  if (at >= bytes.size() || !IsPgmSpace(bytes[at])) {
    *failure = BadImage(name, "malformed PGM header");
    return std::nullopt;
  }
  ++at;
  if (!CheckSize(width, height, name, failure)) {
    return std::nullopt;
  }
  if (maxValue == 0 || maxValue > kMaxPgmValue) {
    *failure = BadImage(name, "PGM maximum value " + std::to_string(maxValue) + " is not 1 to 255");
    return std::nullopt;
  }
  const std::size_t count = std::size_t{width} * height;
  if (bytes.size() - at < count) {
    *failure = BadImage(name, "PGM pixel data is truncated");
    return std::nullopt;
  }
  GreyImage image{width, height, std::vector<std::uint8_t>(count)};
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned sample = static_cast<unsigned char>(bytes[at + i]);
    if (sample > maxValue) {
      *failure = BadImage(name, "PGM sample " + std::to_string(sample) + " exceeds the maximum value");
      return std::nullopt;
    }
    // Scaled to the full 8-bit range, rounded to nearest.
    image.pixels[i] = static_cast<std::uint8_t>((sample * 255 + maxValue / 2) / maxValue);
  }
  return image;
}

std::optional<GreyImage> ReadImage(const std::string &path, Failure *failure) {
  std::string bytes;
  if (!ReadFile(path, &bytes, failure)) {
    return std::nullopt;
  }
  if (bytes.size() >= sizeof(kPngSignature) &&
      std::memcmp(bytes.data(), kPngSignature, sizeof(kPngSignature)) == 0) {
    return DecodePng(bytes, path, failure);
  }
  if (bytes.substr(0, 2) == "P5") {
    return ParsePgm(bytes, path, failure);
  }
  *failure = BadImage(path, "neither a PNG nor a binary PGM (P5)");
  return std::nullopt;
}

}  // namespace bluefin::tool
