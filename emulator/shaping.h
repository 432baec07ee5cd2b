// Link shaping, so that the emulated link is as slow as a radio when a
// benchmark wants it to be.
#ifndef BLUEFIN_EMULATOR_SHAPING_H
#define BLUEFIN_EMULATOR_SHAPING_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace bluefin::emu {

// Off by default. The host's bytes cross the local socket at once, so the
// emulator stands for the radio in both directions: it treats a command as
// heard one latency plus the command's own airtime after its last byte came
// in, and lets each piece of the answer out when its last byte would have
// arrived, one more latency plus the airtime of the answer so far later. One
// exchange then takes what a stop-and-wait link needs (ExchangeTime), and
// the host's receive waits see the bytes trickle in as from a radio.
struct LinkShaping {
  std::uint64_t bitsPerSecond = 0;       // 0: no pacing
  std::chrono::microseconds latency{0};  // one way
  // Stands in for the emulator's own sleep, for tests: called on the
  // emulator thread with the time the next bytes are due. Returning false
  // abandons the delivery as a Stop would.
  std::function<bool(std::chrono::steady_clock::time_point)> sleepUntil;

  bool Enabled() const { return bitsPerSecond != 0 || latency.count() != 0; }
};

std::chrono::nanoseconds Airtime(const LinkShaping &shaping, std::size_t bytes);

// The modeled time from a command frame's last byte leaving the host to
// its answer's last byte arriving.
std::chrono::nanoseconds ExchangeTime(const LinkShaping &shaping, std::size_t commandFrameBytes,
                                      std::size_t answerBytes);

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_SHAPING_H
