#include "emulator/shaping.h"

namespace bluefin::emu {

std::chrono::nanoseconds Airtime(const LinkShaping &shaping, std::size_t bytes) {
  if (shaping.bitsPerSecond == 0) {
    return std::chrono::nanoseconds::zero();
  }
  return std::chrono::nanoseconds(
      static_cast<std::int64_t>(bytes * 8u * 1000000000u / shaping.bitsPerSecond));
}

std::chrono::nanoseconds ExchangeTime(const LinkShaping &shaping, std::size_t commandFrameBytes,
                                      std::size_t answerBytes) {
  return 2 * std::chrono::nanoseconds(shaping.latency) + Airtime(shaping, commandFrameBytes) +
         Airtime(shaping, answerBytes);
}

}  // namespace bluefin::emu
