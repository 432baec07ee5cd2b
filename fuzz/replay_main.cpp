// Runs a fuzz target's LLVMFuzzerTestOneInput over every file of the
// directories (or the files) named on the command line, so that the saved
// corpus and every crash input are replayed by the normal test suite, in
// any build. A finding aborts, which fails the test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

void Replay(const std::filesystem::path &file, int &count) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
  ++count;
}

}  // namespace

int main(int argc, char **argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_regular_file(path)) {
      Replay(path, count);
    } else if (std::filesystem::is_directory(path)) {
      for (const auto &entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
          Replay(entry.path(), count);
        }
      }
    }
  }
  std::printf("replayed %d inputs\n", count);
  return 0;
}
