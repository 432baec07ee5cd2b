// Shared pieces of the command's tests: a scratch directory, addresses no
// other test listens on (the emulator tests' own), and a PNG reader that also
// returns the pHYs chunk.
#ifndef BLUEFIN_TESTS_TOOLS_TEST_SUPPORT_H
#define BLUEFIN_TESTS_TOOLS_TEST_SUPPORT_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/emulator/unique_address.h"

namespace bluefin::tool::test {

// A fresh directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::filesystem::path &path() const { return path_; }
  std::string operator/(const std::string &name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

using emu::test::UniqueAddress;

struct PngFile {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bitDepth = 0;
  int colorType = -1;
  std::uint32_t physX = 0;  // the pHYs chunk; physUnit -1 without one
  std::uint32_t physY = 0;
  int physUnit = -1;
  std::vector<std::uint8_t> pixels;  // as stored, rows back to back
};

// Fails the current test and returns an empty file when libpng refuses it.
PngFile ReadPngFile(const std::string &path);

}  // namespace bluefin::tool::test

#endif  // BLUEFIN_TESTS_TOOLS_TEST_SUPPORT_H
