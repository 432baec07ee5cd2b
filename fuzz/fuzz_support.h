// What the fuzz targets share: their input's reading, their oracle's way of
// failing, and a BlueFinDevice opened on the seam's scanner.
#ifndef VDM_FUZZ_FUZZ_SUPPORT_H
#define VDM_FUZZ_FUZZ_SUPPORT_H

#include <v_core.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "bluefin/bluefin.h"
#include "tests/host_footprint.h"

namespace vdm::fuzz {

using Footprint = vdm::test::HostFootprint;

// Reads a fuzz input as a script: small numbers from the front, the rest as
// bytes. Reading past the end gives zeros, so every input is a valid script.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t *data, std::size_t size) : bytes_(data, size) {}

  std::uint8_t Byte() { return next_ < bytes_.size() ? bytes_[next_++] : 0; }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  unsigned Below(unsigned limit) { return Byte() % limit; }
  bool Empty() const { return next_ >= bytes_.size(); }
  std::span<const std::uint8_t> Rest() { return bytes_.subspan(std::exchange(next_, bytes_.size())); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t next_ = 0;
};

// A broken expectation is a finding: it aborts, so that libFuzzer keeps the
// input and the replay test fails on it.
void Expect(bool holds, const char *what);
// A failing call recorded its own code as the thread's last error.
void ExpectRecorded(VResult result);

// Installs the seam's scanner and makes what every device shares, once;
// call before taking a Footprint.
void PreparePeer();
// A device on the seam's scanner, powered on afresh: connect and echo under
// the default key and, when secure, a key switch to the default key, so that
// what is queued afterwards is read under the key the seeds were made with.
// Aborts if the scanner does not go along: no input was used yet.
HVBlueFin OpenDeviceOnPeer(bool secure);

// One of the device's operations, by number: 0 echo, 1 identity, 2 status,
// 3 arm, 4 a fixed key, 5 a random key, 6 the default key, 7 (and above)
// the image. The seeds and the targets number them alike.
VResult RunOperation(HVBlueFin hBlueFin, unsigned operation);

}  // namespace vdm::fuzz

#endif  // VDM_FUZZ_FUZZ_SUPPORT_H
