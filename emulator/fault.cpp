#include "emulator/fault_book.h"

#include <algorithm>

#include "emulator/cipher.h"
#include "emulator/scanner.h"

namespace bluefin::emu {
namespace {

inline constexpr std::size_t kEchoPatternSize = 15;

// A stray frame must not carry the response code the host waits for; any
// other command's code will do, and a status answer is what a scanner
// would most plausibly volunteer.
std::uint8_t StrayCode(std::uint8_t responseCode) {
  const std::uint8_t status = Code(Command::kGetStatus) | kResponseBit;
  return responseCode == status ? static_cast<std::uint8_t>(Code(Command::kIdentity) | kResponseBit) : status;
}

}  // namespace

bool FaultTarget::Matches(std::uint8_t code, std::span<const std::uint8_t> arguments) const {
  if (code != command) {
    return false;
  }
  return !part.has_value() || (!arguments.empty() && arguments[0] == *part);
}

bool FaultBook::Add(const Fault &fault) {
  switch (fault.kind) {
    case FaultKind::kStrayFrames:
      if (fault.value > kMaxStrayFrames) {
        return false;
      }
      break;
    case FaultKind::kPayloadLength:
      if (fault.value < 1 || fault.value > kMaxFaultPayload) {
        return false;
      }
      break;
    case FaultKind::kWrongEcho:
      if (fault.value >= kEchoPatternSize) {
        return false;
      }
      break;
    case FaultKind::kRefuseKey:
    case FaultKind::kWrongStatusEcho:
    case FaultKind::kInvalidImagePart:
      if (fault.value > 0xFF) {
        return false;
      }
      break;
    default:
      break;
  }
  pending_.push_back({fault, 0});
  return true;
}

FaultEffects FaultBook::Take(std::uint8_t code, std::span<const std::uint8_t> arguments) {
  FaultEffects effects;
  for (auto entry = pending_.begin(); entry != pending_.end();) {
    const Fault &fault = entry->fault;
    if (!fault.target.Matches(code, arguments)) {
      ++entry;
      continue;
    }
    ++entry->seen;
    const unsigned wanted = fault.target.occurrence;
    if (wanted != 0 && entry->seen != wanted) {
      ++entry;
      continue;
    }
    switch (fault.kind) {
      case FaultKind::kStrayFrames:
        effects.strayFrames += fault.value;
        break;
      case FaultKind::kBadDataChecksum:
        effects.defects.badDataChecksum = true;
        break;
      case FaultKind::kBadHeaderChecksum:
        effects.defects.badHeaderChecksum = true;
        break;
      case FaultKind::kPayloadLength:
        effects.payloadLength = fault.value;
        break;
      case FaultKind::kDeclaredLength:
        effects.defects.declaredLength = fault.value;
        break;
      case FaultKind::kWrongEcho:
        effects.wrongEchoByte = fault.value;
        break;
      case FaultKind::kRefuseKey:
      case FaultKind::kWrongStatusEcho:
      case FaultKind::kInvalidImagePart:
        effects.declineWith = static_cast<std::uint8_t>(fault.value);
        break;
      case FaultKind::kSilence:
        effects.silence = true;
        break;
      case FaultKind::kCloseMidFrame:
        effects.closeAfter = fault.value;
        break;
      case FaultKind::kForeignKey:
        effects.answerKey = fault.key;
        break;
    }
    entry = wanted != 0 ? pending_.erase(entry) : entry + 1;
  }
  return effects;
}

std::vector<std::uint8_t> ComposeAnswer(const FaultEffects &effects, std::uint8_t responseCode,
                                        std::vector<std::uint8_t> payload, const Key &answerKey) {
  if (effects.wrongEchoByte && responseCode == (Code(Command::kEcho) | kResponseBit) &&
      1 + *effects.wrongEchoByte < payload.size()) {
    payload[1 + *effects.wrongEchoByte] ^= 0xFF;
  }
  if (effects.payloadLength) {
    payload.resize(*effects.payloadLength, 0);
  }

  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> stray(kShortAnswerSize, 0);
  stray[0] = StrayCode(responseCode);
  for (std::uint32_t i = 0; i < effects.strayFrames; ++i) {
    AppendResponseFrame(stray, answerKey, FrameDefects{}, out);
  }
  AppendResponseFrame(payload, effects.answerKey.value_or(answerKey), effects.defects, out);
  return out;
}

ServedFrame ServeFrame(Scanner &scanner, FaultBook &faults, const CommandHeader &header,
                       std::span<std::uint8_t> body) {
  ServedFrame served;
  if (!header.headerChecksumOk || Checksum(body) != header.dataChecksum) {
    return served;
  }
  served.ignored = false;
  served.key = scanner.key();
  DecryptBlocks(served.key, body);
  served.code = body[0];
  served.arguments = body.subspan(1, header.length - 1u);
  const FaultEffects effects = faults.Take(served.code, served.arguments);
  std::vector<std::uint8_t> payload = scanner.Handle(served.code, served.arguments, effects.declineWith);
  served.out = ComposeAnswer(effects, static_cast<std::uint8_t>(served.code | kResponseBit),
                             std::move(payload), served.key);
  served.silence = effects.silence;
  if (effects.closeAfter) {
    served.out.resize(std::min<std::size_t>(served.out.size(), *effects.closeAfter));
    served.close = true;
  }
  return served;
}

}  // namespace bluefin::emu
