// Faults the scanner emulator injects on request, each aimed at one command
// (by code and occurrence) or one image part.
#ifndef BLUEFIN_EMULATOR_FAULT_H
#define BLUEFIN_EMULATOR_FAULT_H

#include <cstdint>
#include <optional>
#include <span>

#include "emulator/protocol.h"

namespace bluefin::emu {

// Which command a fault hits. Occurrences count the matching commands that
// arrive after the fault was injected, from 1; a fault fires once, on that
// occurrence, and is then used up. Occurrence 0 fires on every match until
// the faults are cleared.
struct FaultTarget {
  std::uint8_t command = 0;
  std::optional<std::uint8_t> part;  // image part index, for kImagePart only
  unsigned occurrence = 1;

  bool Matches(std::uint8_t code, std::span<const std::uint8_t> arguments) const;
};

inline FaultTarget On(Command command, unsigned occurrence = 1) {
  return FaultTarget{Code(command), std::nullopt, occurrence};
}
inline FaultTarget OnPart(std::uint8_t part, unsigned occurrence = 1) {
  return FaultTarget{Code(Command::kImagePart), part, occurrence};
}

enum class FaultKind : std::uint8_t {
  // `value` (up to kMaxStrayFrames) well-formed frames under the answer's
  // key, whose response code is another command's, go out before the
  // answer.
  kStrayFrames,
  kBadDataChecksum,
  kBadHeaderChecksum,
  // The answer's payload is cut to, or zero-extended to, `value` bytes
  // (1 to kMaxFaultPayload); the frame stays well-formed around it.
  kPayloadLength,
  // The header declares `value` as the payload length, taken as raw 32 bits
  // (0, or the top bit set, or more than the host's buffer); the blocks
  // that follow are the true answer's.
  kDeclaredLength,
  // Echo answer: pattern byte `value` (0 to 14) is altered.
  kWrongEcho,
  // The scanner declines: byte 12 of the answer is `value` and the command
  // has no effect (the key stays, the status stays, the part is not
  // counted as served). Three names for the commands they suit; an image
  // part of the wrong length is kPayloadLength.
  kRefuseKey,
  kWrongStatusEcho,
  kInvalidImagePart,
  // The scanner acts on the command but its answer never goes out.
  kSilence,
  // The scanner acts on the command, sends the first `value` bytes of what
  // it would send (stray frames included) and closes the connection.
  kCloseMidFrame,
  // The answer is encrypted under `key` instead of the scanner's key.
  kForeignKey,
};

inline constexpr std::uint32_t kMaxFaultPayload = 65535;
inline constexpr std::uint32_t kMaxStrayFrames = 64;

struct Fault {
  FaultKind kind = FaultKind::kSilence;
  FaultTarget target;
  std::uint32_t value = 0;
  Key key{};

  static Fault StrayFrames(FaultTarget target, std::uint32_t count) {
    return {FaultKind::kStrayFrames, target, count, {}};
  }
  static Fault BadDataChecksum(FaultTarget target) { return {FaultKind::kBadDataChecksum, target, 0, {}}; }
  static Fault BadHeaderChecksum(FaultTarget target) {
    return {FaultKind::kBadHeaderChecksum, target, 0, {}};
  }
  static Fault PayloadLength(FaultTarget target, std::uint32_t length) {
    return {FaultKind::kPayloadLength, target, length, {}};
  }
  static Fault DeclaredLength(FaultTarget target, std::uint32_t length) {
    return {FaultKind::kDeclaredLength, target, length, {}};
  }
  static Fault WrongEcho(FaultTarget target, std::uint32_t patternByte = 14) {
    return {FaultKind::kWrongEcho, target, patternByte, {}};
  }
  static Fault RefuseKey(FaultTarget target, std::uint8_t result = 0) {
    return {FaultKind::kRefuseKey, target, result, {}};
  }
  static Fault WrongStatusEcho(FaultTarget target, std::uint8_t reported) {
    return {FaultKind::kWrongStatusEcho, target, reported, {}};
  }
  static Fault InvalidImagePart(FaultTarget target, std::uint8_t result = 0) {
    return {FaultKind::kInvalidImagePart, target, result, {}};
  }
  static Fault Silence(FaultTarget target) { return {FaultKind::kSilence, target, 0, {}}; }
  static Fault CloseMidFrame(FaultTarget target, std::uint32_t bytesSent) {
    return {FaultKind::kCloseMidFrame, target, bytesSent, {}};
  }
  static Fault ForeignKey(FaultTarget target, const Key &key) {
    return {FaultKind::kForeignKey, target, 0, key};
  }
};

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_FAULT_H
