// The installed command: cmake --install into a prefix, the tree moved
// elsewhere, and a capture from the built-in emulator with what was
// installed alone.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "test_support.h"

namespace bluefin::tool::test {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> FindFile(const fs::path &root, const std::string &name) {
  for (const auto &entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().filename() == name) {
      return entry.path();
    }
  }
  return std::nullopt;
}

TEST(Install, AMovedTreeCapturesWithWhatWasInstalled) {
  ScratchDir dir;
  const ChildResult install = RunBluefin({"--install", BLUEFIN_BUILD_DIR, "--prefix", dir / "prefix"},
                                         {.program = BLUEFIN_CMAKE_COMMAND});
  ASSERT_EQ(install.exitStatus, 0) << install.out << install.err;
  fs::rename(dir / "prefix", dir / "moved");
  const fs::path moved = dir.path() / "moved";

  std::ifstream manual(moved / "share/man/man1/bluefin.1");
  std::string firstLine;
  std::getline(manual, firstLine);
  EXPECT_EQ(firstLine.rfind(".TH BLUEFIN 1 ", 0), 0u) << firstLine;

  ChildOptions options = FastPolls({.program = (moved / "bin/bluefin").string(), .cwd = dir.path().string()});
  const ChildResult run = RunBluefin({"capture", "--json", "--quiet"}, options);
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_TRUE(fs::exists(dir / "finger.png"));

  // It was the moved tree's module: without it the command names its path
  // rather than reach back into the build tree.
  const std::optional<fs::path> module = FindFile(moved, "VdmBlueFinEmulated.so");
  ASSERT_TRUE(module);
  fs::remove(*module);
  const ChildResult without = RunBluefin({"capture", "--quiet"}, options);
  EXPECT_EQ(without.exitStatus, 1);
  EXPECT_NE(without.err.find(fs::weakly_canonical(*module).string()), std::string::npos) << without.err;
}

}  // namespace
}  // namespace bluefin::tool::test
