// Runs a fuzz target's LLVMFuzzerTestOneInput over the files named on the
// command line and every file of the directories named, so that the saved
// corpus and every crash input are replayed by the normal test suite, in
// any build. A finding aborts, which fails the test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> files = {argv[i]};
    if (std::filesystem::is_directory(files[0])) {
      files.assign(std::filesystem::directory_iterator(files[0]), {});
    }
    for (const std::filesystem::path &file : files) {
      if (std::filesystem::is_regular_file(file) && file.filename().string()[0] != '.') {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
        ++count;
      }
    }
  }
  std::printf("replayed %d inputs\n", count);
  return 0;
}
