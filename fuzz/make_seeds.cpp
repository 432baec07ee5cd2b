// Writes the fuzz targets' seed corpora from what the emulated scanner
// answers: run once by hand (make_seeds <fuzz/corpus>) when an input format
// changes; its output is committed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bluefin/bluefin.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/seam_peer.h"

using namespace vdm::fuzz;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::filesystem::path gRoot;

void Write(const std::string &target, const std::string &name, const Bytes &bytes) {
  const std::filesystem::path directory = gRoot / target;
  std::filesystem::create_directories(directory);
  std::ofstream(directory / name, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The answers a well-behaved scanner gives to one operation of the response
// frames target, as that target's input.
void ResponseSeed(unsigned operation, const std::string &name, bool armFirst) {
  HVBlueFin hBlueFin = OpenDeviceOnPeer(true);
  if (armFirst) {
    RunOperation(hBlueFin, 3);
    RunOperation(hBlueFin, 2);
  }
  const std::size_t from = SeamPeer::Instance().Inbound().size();
  RunOperation(hBlueFin, operation);
  const Bytes inbound = SeamPeer::Instance().Inbound();
  VObjectSet(nullptr, &hBlueFin);
  Bytes seed = {static_cast<std::uint8_t>(operation), 0, 1};
  seed.insert(seed.end(), inbound.begin() + static_cast<std::ptrdiff_t>(from), inbound.end());
  Write("response_frames_fuzzer", name, seed);
  if (operation == 2) {
    seed[0] = 8;  // the bare exchange, code 0x09 (index 3), capacity 256 (index 1)
    seed.insert(seed.begin() + 3, {3, 1});
    Write("response_frames_fuzzer", "exchange_status", seed);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus directory>\n");
    return 2;
  }
  gRoot = argv[1];
  PreparePeer();

  ResponseSeed(0, "echo", false);
  ResponseSeed(1, "identity", false);
  ResponseSeed(2, "status", false);
  ResponseSeed(3, "set_status", false);
  ResponseSeed(6, "restore_key", false);
  ResponseSeed(7, "image", true);

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
    Bytes bytes = seed.header;
    bytes.insert(bytes.end(), codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(seed.codeBytes));
    Write("image_part_fuzzer", seed.name, bytes);
  }

  // Sessions: flags, interrupt, interrupt call (2 bytes), callback, then
  // faults of six bytes: kind, command index, part, occurrence, value.
  const struct {
    const char *name;
    Bytes bytes;
  } kSessions[] = {
      {"plain", {0x00, 0, 0, 0, 0}},
      {"three_polls_twice", {0x13, 0, 0, 0, 0}},
      {"unplug_at_end", {0x21, 0, 0, 0, 0}},
      {"cancel_in_polls", {0x02, 1, 20, 0, 0}},
      {"cancel_in_transfer", {0x00, 1, 60, 0, 0}},
      {"remove_in_transfer", {0x00, 2, 80, 0, 0}},
      {"unplug_in_polls", {0x03, 3, 15, 0, 0}},
      {"callback_fails", {0x02, 0, 0, 0, 0x11}},
      {"callback_final", {0x01, 0, 0, 0, 0x20}},
      {"stray_frames_in_part", {0x00, 0, 0, 0, 0, 0, 5, 4, 1, 3, 0}},
      {"data_checksum_on_key", {0x00, 0, 0, 0, 0, 1, 2, 12, 1, 0, 0}},
      {"header_checksum_on_status", {0x01, 0, 0, 0, 0, 2, 3, 12, 1, 0, 0}},
      {"short_image_part", {0x00, 0, 0, 0, 0, 3, 5, 7, 1, 0x0C, 0x0C}},
      {"declared_length_zero", {0x00, 0, 0, 0, 0, 4, 1, 12, 1, 0, 0}},
      {"wrong_echo", {0x00, 0, 0, 0, 0, 5, 0, 12, 1, 3, 0}},
      {"key_refused", {0x00, 0, 0, 0, 0, 6, 2, 12, 1, 0, 0}},
      {"status_echo_wrong", {0x00, 0, 0, 0, 0, 7, 4, 12, 1, 2, 0}},
      {"invalid_part", {0x00, 0, 0, 0, 0, 8, 5, 11, 1, 0, 0}},
      {"silent_status", {0x02, 0, 0, 0, 0, 9, 3, 12, 2, 0, 0}},
      {"close_mid_part", {0x00, 0, 0, 0, 0, 10, 5, 6, 1, 100, 0}},
      {"foreign_key_part", {0x00, 0, 0, 0, 0, 11, 5, 2, 1, 0x42, 0}},
      {"connect_refused", {0xC0, 0, 0, 0, 0}},
  };
  for (const auto &session : kSessions) {
    Write("session_fuzzer", session.name, session.bytes);
  }
  return 0;
}
