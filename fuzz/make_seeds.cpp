// Writes the seed corpora of the response-frames and image-part targets from
// what the emulated scanner answers and codes: run by hand (make_seeds
// <fuzz/corpus>) when an input format changes; its output is committed. The
// session target's seeds are a few bytes each, written by hand and committed
// as they are.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bluefin/bluefin.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/seam_peer.h"

using namespace vdm::fuzz;
using Bytes = std::vector<std::uint8_t>;

namespace {

void Write(const std::filesystem::path &directory, const char *name, Bytes bytes, const Bytes &tail) {
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  std::filesystem::create_directories(directory);
  std::ofstream(directory / name, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// What the scanner sends back for one operation (the image after arming).
Bytes Answers(unsigned operation) {
  HVBlueFin hBlueFin = OpenDeviceOnPeer(true);
  if (operation == 7) {
    RunOperation(hBlueFin, 3);
    RunOperation(hBlueFin, 2);
  }
  const std::size_t from = SeamPeer::Instance().Inbound().size();
  RunOperation(hBlueFin, operation);
  const Bytes inbound = SeamPeer::Instance().Inbound();
  VObjectSet(nullptr, &hBlueFin);
  return Bytes(inbound.begin() + static_cast<std::ptrdiff_t>(from), inbound.end());
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus directory>\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  PreparePeer();

  // Operation, read chunk 0, secure; the bare exchange (8) then takes code
  // 0x09 (index 3) and capacity 256 (index 1).
  const struct {
    const char *name;
    unsigned operation;
    Bytes header;
  } kResponseSeeds[] = {
      {"echo", 0, {0, 0, 1}},
      {"identity", 1, {1, 0, 1}},
      {"status", 2, {2, 0, 1}},
      {"set_status", 3, {3, 0, 1}},
      {"restore_key", 6, {6, 0, 1}},
      {"image", 7, {7, 0, 1}},
      {"exchange_status", 2, {8, 0, 1, 3, 1}},
  };
  for (const auto &seed : kResponseSeeds) {
    Write(root / "response_frames_fuzzer", seed.name, seed.header, Answers(seed.operation));
  }

  // Image parts: the scanner's own codes, a stop, a failure, a short part.
  const emu::Scanner scanner{emu::ScannerConfig{}};
  const Bytes &codes = scanner.image().data;
  const struct {
    const char *name;
    Bytes header;
    std::size_t codeBytes;
  } kImageSeeds[] = {
      {"scanner_image", {0, 0, 15, 0, 0}, codes.size()},
      {"stop_after_the_fourth_piece", {2, 3, 15, 0, 0}, 3 * 1024},
      {"fail_after_the_first_piece", {3, 0, 15, 0, 0}, 3},
      {"short_sixth_piece", {1, 0, 5, 0xFF, 0}, 48},
      {"raw_headers", {1, 0, 15, 0, 1}, 4096},
  };
  for (const auto &seed : kImageSeeds) {
    Write(root / "image_part_fuzzer", seed.name, seed.header,
          Bytes(codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(seed.codeBytes)));
  }
  return 0;
}
