// Reads a fuzz input as a script: small numbers from the front, the rest as
// bytes. Reading past the end gives zeros, so every input is a valid script.
#ifndef VDM_FUZZ_FUZZ_INPUT_H
#define VDM_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <span>

namespace vdm::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t *data, std::size_t size) : bytes_(data, size) {}

  std::uint8_t Byte() { return next_ < bytes_.size() ? bytes_[next_++] : 0; }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  // A number below limit (limit > 0).
  unsigned Below(unsigned limit) { return Byte() % limit; }
  bool Empty() const { return next_ >= bytes_.size(); }
  // Everything not read yet.
  std::span<const std::uint8_t> Rest() {
    const std::span<const std::uint8_t> rest = bytes_.subspan(next_);
    next_ = bytes_.size();
    return rest;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t next_ = 0;
};

}  // namespace vdm::fuzz

#endif  // VDM_FUZZ_FUZZ_INPUT_H
