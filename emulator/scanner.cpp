#include "emulator/scanner.h"

#include <algorithm>

#include "emulator/synthetic_finger.h"

namespace bluefin::emu {
namespace {

constexpr std::uint16_t kAllParts = (1u << kImageParts) - 1;

// Identity bytes 12..15 are examined by no host; a real unit reports a
// hardware revision and a firmware version there.
constexpr std::uint8_t kHardwareRevision = 1;
constexpr std::uint8_t kIdentityFlags = 0;
constexpr std::uint16_t kFirmwareVersion = 0x0102;

std::vector<std::uint8_t> ShortAnswer(std::uint8_t code, std::uint8_t result) {
  std::vector<std::uint8_t> payload(kShortAnswerSize, 0);
  payload[0] = static_cast<std::uint8_t>(code | kResponseBit);
  payload[kResultOffset] = result;
  return payload;
}

std::shared_ptr<const EncodedImage> Encode(const ScannerConfig &config, std::uint32_t capture) {
  if (config.image) {
    return std::make_shared<const EncodedImage>(EncodeImage(*config.image));
  }
  return std::make_shared<const EncodedImage>(EncodeImage(MakeSyntheticFinger(config.imageSeed + capture)));
}

}  // namespace

Scanner::Scanner(ScannerConfig config)
    : config_(std::move(config)), key_(config_.powerOnKey), image_(Encode(config_, 0)) {}

void Scanner::Reset() {
  key_ = config_.powerOnKey;
  GoIdle();
}

std::vector<std::uint8_t> Scanner::Handle(std::uint8_t code, std::span<const std::uint8_t> arguments,
                                          std::optional<std::uint8_t> declineWith) {
  const bool decline = declineWith.has_value();
  std::vector<std::uint8_t> payload;
  switch (code) {
    case Code(Command::kEcho):
      payload = Echo(arguments);
      break;
    case Code(Command::kIdentity):
      payload = Identity();
      break;
    case Code(Command::kSetKey):
      payload = SetKey(arguments, decline);
      break;
    case Code(Command::kSetStatus):
      payload = SetStatus(arguments, decline);
      break;
    case Code(Command::kGetStatus):
      payload = GetStatus(decline);
      break;
    case Code(Command::kImagePart):
      payload = ImagePart(arguments, decline);
      break;
    default:
      // An unknown code (or a command decrypted under the wrong key, which
      // looks the same from here) gets a short "not done" answer with its
      // own response code, so the host is not left waiting.
      payload = ShortAnswer(code, 0);
      break;
  }
  if (decline && payload.size() > kResultOffset) {
    payload[kResultOffset] = *declineWith;
  }
  return payload;
}

std::vector<std::uint8_t> Scanner::Echo(std::span<const std::uint8_t> arguments) const {
  // The argument bytes come back as they came, so the answer is exactly as
  // long as the command.
  std::vector<std::uint8_t> payload;
  payload.reserve(1 + arguments.size());
  payload.push_back(Code(Command::kEcho) | kResponseBit);
  payload.insert(payload.end(), arguments.begin(), arguments.end());
  return payload;
}

std::vector<std::uint8_t> Scanner::Identity() const {
  std::vector<std::uint8_t> payload = ShortAnswer(Code(Command::kIdentity), kHardwareRevision);
  std::copy(config_.model.begin(), config_.model.end(), payload.begin() + kModelOffset);
  for (std::size_t i = 0; i < 4; ++i) {
    payload[kSerialOffset + i] = static_cast<std::uint8_t>(config_.serial >> (24 - 8 * i));
  }
  payload[kCaptureStateOffset] = kIdentityFlags;
  payload[14] = static_cast<std::uint8_t>(kFirmwareVersion >> 8);
  payload[15] = static_cast<std::uint8_t>(kFirmwareVersion);
  return payload;
}

std::vector<std::uint8_t> Scanner::SetKey(std::span<const std::uint8_t> arguments, bool decline) {
  // Only a whole 256-bit key is taken; a shorter command is refused rather
  // than completed with the frame's zero fill.
  if (decline || arguments.size() != key_.size()) {
    return ShortAnswer(Code(Command::kSetKey), 0);
  }
  std::copy(arguments.begin(), arguments.end(), key_.begin());
  return ShortAnswer(Code(Command::kSetKey), 1);
}

std::vector<std::uint8_t> Scanner::SetStatus(std::span<const std::uint8_t> arguments, bool decline) {
  // Only idle and armed exist; any other value is refused, and the answer
  // then echoes the status still in force, which the host sees as "not
  // changed".
  if (!decline && !arguments.empty()) {
    if (arguments[0] == kStatusArmed) {
      Arm();
    } else if (arguments[0] == kStatusIdle) {
      GoIdle();
    }
  }
  return ShortAnswer(Code(Command::kSetStatus), status_);
}

std::vector<std::uint8_t> Scanner::GetStatus(bool decline) {
  if (!decline && capture_ == CaptureState::kWaiting) {
    if (polls_ >= config_.readyAfterPolls) {
      capture_ = CaptureState::kReady;
    } else {
      ++polls_;
    }
  }
  std::vector<std::uint8_t> payload = ShortAnswer(Code(Command::kGetStatus), status_);
  payload[kCaptureStateOffset] = static_cast<std::uint8_t>(capture_);
  // Bytes 14..15: the polls answered "waiting" since arming, which no host
  // examines but which helps when reading a trace.
  const auto polls = static_cast<std::uint16_t>(std::min(polls_, 0xFFFFu));
  payload[14] = static_cast<std::uint8_t>(polls >> 8);
  payload[15] = static_cast<std::uint8_t>(polls);
  return payload;
}

std::vector<std::uint8_t> Scanner::ImagePart(std::span<const std::uint8_t> arguments, bool decline) {
  // Every image-part answer has the full size, valid or not: a part asked
  // for while no image is ready, or with an index past the last, comes back
  // with byte 12 = 0 and no pixels, so the host reports an invalid part
  // rather than a framing error.
  std::vector<std::uint8_t> payload(kImagePartPayloadSize, 0);
  payload[0] = Code(Command::kImagePart) | kResponseBit;
  const bool valid =
      !decline && capture_ == CaptureState::kReady && !arguments.empty() && arguments[0] < kImageParts;
  if (!arguments.empty()) {
    payload[1] = arguments[0];
  }
  if (!valid) {
    return payload;
  }
  const std::size_t index = arguments[0];
  payload[2] = static_cast<std::uint8_t>(kImageParts);
  payload[kResultOffset] = 1;
  const auto data = image_->Part(index);
  std::copy(data.begin(), data.end(), payload.begin() + kPartDataOffset);
  partsServed_ = static_cast<std::uint16_t>(partsServed_ | (1u << index));
  if (partsServed_ == kAllParts) {
    GoIdle();
  }
  return payload;
}

void Scanner::Arm() {
  // Arming again restarts the capture; a fresh finger, when asked for, is
  // made for every capture after the first so that the first one serves the
  // image known from the start.
  if (config_.freshImagePerCapture && !config_.image && captures_ > 0) {
    image_ = Encode(config_, captures_);
  }
  ++captures_;
  status_ = kStatusArmed;
  capture_ = CaptureState::kWaiting;
  polls_ = 0;
  partsServed_ = 0;
}

void Scanner::GoIdle() {
  status_ = kStatusIdle;
  capture_ = CaptureState::kIdle;
  polls_ = 0;
  partsServed_ = 0;
}

}  // namespace bluefin::emu
