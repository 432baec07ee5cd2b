// The emulator's book of pending faults, and how the faults that hit one
// command shape its answer.
#ifndef BLUEFIN_EMULATOR_FAULT_BOOK_H
#define BLUEFIN_EMULATOR_FAULT_BOOK_H

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "emulator/fault.h"
#include "emulator/frame.h"

namespace bluefin::emu {

// What the faults that hit one command do to it, all of them together.
struct FaultEffects {
  std::uint32_t strayFrames = 0;
  FrameDefects defects;
  std::optional<std::uint32_t> payloadLength;
  std::optional<std::uint32_t> wrongEchoByte;
  std::optional<std::uint8_t> declineWith;
  bool silence = false;
  std::optional<std::uint32_t> closeAfter;
  std::optional<Key> answerKey;
};

// The pending faults. Not thread-safe: the emulator guards it.
class FaultBook {
 public:
  // Returns false (and keeps nothing) for a fault whose value is out of
  // range for its kind.
  bool Add(const Fault &fault);
  void Clear() { pending_.clear(); }
  std::size_t Pending() const { return pending_.size(); }

  // Counts this command against every pending fault and takes the ones
  // that fire.
  FaultEffects Take(std::uint8_t code, std::span<const std::uint8_t> arguments);

 private:
  struct Entry {
    Fault fault;
    unsigned seen = 0;
  };
  std::vector<Entry> pending_;
};

// The bytes that go on the wire for one answer: stray frames, then the
// answer's frame, with the payload and frame faults applied. answerKey is
// the scanner's key when the command came in.
std::vector<std::uint8_t> ComposeAnswer(const FaultEffects &effects, std::uint8_t responseCode,
                                        std::vector<std::uint8_t> payload, const Key &answerKey);

class Scanner;

// One command frame served, once its header's length is known to be valid:
// a frame whose checksums fail is ignored; otherwise its body is decrypted
// in place under the scanner's key, the faults that hit the command are
// taken, the scanner answers, and the bytes for the wire are composed (cut
// short where a fault closes the connection after them). The emulator and
// the fuzz targets' in-process scanner both serve this way.
struct ServedFrame {
  bool ignored = true;  // no answer: a checksum failed
  std::uint8_t code = 0;
  std::span<const std::uint8_t> arguments;  // inside the decrypted body
  Key key{};                                // in force when the frame came in
  bool silence = false;                     // no answer: a fault keeps quiet
  bool close = false;                       // the connection ends after out
  std::vector<std::uint8_t> out;
};
ServedFrame ServeFrame(Scanner &scanner, FaultBook &faults, const CommandHeader &header,
                       std::span<std::uint8_t> body);

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_FAULT_BOOK_H
