// What the fuzz targets share: their input's reading, their oracle's way of
// failing, the host's leak counters, and a BlueFinDevice opened on the
// seam's scanner.
#ifndef VDM_FUZZ_FUZZ_SUPPORT_H
#define VDM_FUZZ_FUZZ_SUPPORT_H

#include <v_core.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "bluefin/bluefin.h"

namespace vdm::fuzz {

// Reads a fuzz input as a script: small numbers from the front, the rest as
// bytes. Reading past the end gives zeros, so every input is a valid script.
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

// A broken expectation is a finding: report it and abort, so that libFuzzer
// keeps the input and the replay test fails on it.
[[noreturn]] void Finding(const char *what);
inline void Expect(bool holds, const char *what) {
  if (!holds) {
    Finding(what);
  }
}

// A failing call recorded its own code as the thread's last error.
void ExpectRecorded(VResult result);

// Everything the host hands out that a device could leave behind.
struct Footprint {
  VInt64 objects;
  VInt64 allocations;
  VInt64 events;
  VInt64 monitors;
  static Footprint Now();
  bool operator==(const Footprint &) const = default;
};

// Installs the seam's scanner and makes what every run shares, once; call
// before taking a Footprint.
void PreparePeer();
// Powers the seam's scanner on with the default image and opens a device on
// it: connect and echo under the default key. Aborts if that fails, since
// nothing of the input has been used yet.
HVBlueFin OpenDeviceOnPeer();
// Puts the device in secure mode and leaves it on the default key, so that
// what is queued for it afterwards is read under the key the seeds were
// made with: a key switch to the default key, which the seam's scanner must
// answer. Aborts if it does not.
void EnterSecureModeOnDefaultKey(HVBlueFin hBlueFin);

// One of the device's operations, by number: 0 echo, 1 identity, 2 status,
// 3 arm, 4 a fixed key, 5 a random key, 6 the default key, 7 (and above)
// the image. The seeds and the targets number them alike.
VResult RunOperation(HVBlueFin hBlueFin, unsigned operation);

}  // namespace vdm::fuzz

#endif  // VDM_FUZZ_FUZZ_SUPPORT_H
