// The scanner's state and its answers to commands, free of sockets,
// threads and faults: one decrypted command in, one plaintext payload out.
#ifndef BLUEFIN_EMULATOR_SCANNER_H
#define BLUEFIN_EMULATOR_SCANNER_H

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "emulator/delta_encoder.h"
#include "emulator/protocol.h"

namespace bluefin::emu {

struct ScannerConfig {
  std::array<std::uint8_t, kModelSize> model{};
  std::uint32_t serial = 0;
  unsigned readyAfterPolls = 0;
  // Served as given when set; otherwise a synthetic finger from imageSeed.
  std::optional<Image> image;
  std::uint32_t imageSeed = 0;
  bool freshImagePerCapture = false;
  Key powerOnKey = kDefaultKey;
};

class Scanner {
 public:
  explicit Scanner(ScannerConfig config);

  // Answers one command and moves the state. With declineWith set the
  // scanner says no instead: the command has no effect and byte 12 of the
  // answer carries that value. The answer goes out under the key that was
  // in force before the call (a key command switches only afterwards).
  std::vector<std::uint8_t> Handle(std::uint8_t code, std::span<const std::uint8_t> arguments,
                                   std::optional<std::uint8_t> declineWith);

  const Key &key() const { return key_; }
  void ForceKey(const Key &key) { key_ = key; }
  std::uint8_t status() const { return status_; }
  CaptureState capture() const { return capture_; }
  unsigned polls() const { return polls_; }
  std::uint16_t partsServed() const { return partsServed_; }
  const EncodedImage &image() const { return *image_; }

  // Power cycle: the power-on key, idle. The image stays.
  void Reset();

 private:
  std::vector<std::uint8_t> Echo(std::span<const std::uint8_t> arguments) const;
  std::vector<std::uint8_t> Identity() const;
  std::vector<std::uint8_t> SetKey(std::span<const std::uint8_t> arguments, bool decline);
  std::vector<std::uint8_t> SetStatus(std::span<const std::uint8_t> arguments, bool decline);
  std::vector<std::uint8_t> GetStatus(bool decline);
  std::vector<std::uint8_t> ImagePart(std::span<const std::uint8_t> arguments, bool decline);
  void Arm();
  void GoIdle();

  ScannerConfig config_;
  Key key_;
  std::uint8_t status_ = kStatusIdle;
  CaptureState capture_ = CaptureState::kIdle;
  unsigned polls_ = 0;
  std::uint16_t partsServed_ = 0;
  std::uint32_t captures_ = 0;
  std::shared_ptr<const EncodedImage> image_;
};

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_SCANNER_H
