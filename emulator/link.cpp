// The platform-free half of the scanner's end of the link: address text,
// the listen name and paced writes. link_posix.cpp and link_winsock.cpp hold
// the sockets.
#include "emulator/link.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

#include "emulator/protocol.h"

namespace bluefin::emu {
namespace {

constexpr std::size_t kAddressTextSize = 17;

}  // namespace

std::optional<std::string> NormalizeAddress(std::string_view text) {
  if (text.size() != kAddressTextSize) {
    return std::nullopt;
  }
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const bool separator = i % 3 == 2;
    const auto c = static_cast<unsigned char>(out[i]);
    if (separator ? c != ':' : !std::isxdigit(c)) {
      return std::nullopt;
    }
    out[i] = static_cast<char>(std::toupper(c));
  }
  return out;
}

std::string ListenName(std::string_view normalizedAddress) {
  std::string name = "bluefin/";
  name += normalizedAddress;
  name += '/';
  name += kSerialPortServiceClass;
  return name;
}

Io WriteShaped(int fd, const Waker &waker, const LinkShaping &shaping, std::span<const std::uint8_t> bytes,
               std::chrono::steady_clock::time_point commandArrived, std::size_t commandFrameBytes) {
  if (!shaping.Enabled()) {
    return WriteAll(fd, waker, bytes);
  }
  const auto firstDue = commandArrived + 2 * shaping.latency + Airtime(shaping, commandFrameBytes);
  const std::size_t chunk =
      shaping.bitsPerSecond == 0
          ? bytes.size()
          : std::max<std::size_t>(kMinPaceChunk, static_cast<std::size_t>(shaping.bitsPerSecond / 8 / 1000));
  // Deadlines are absolute from the command's arrival, so the lateness of
  // one sleep does not add up over a long frame.
  for (std::size_t sent = 0; sent < bytes.size();) {
    const std::size_t n = std::min(chunk, bytes.size() - sent);
    const auto due = firstDue + Airtime(shaping, sent + n);
    if (shaping.sleepUntil) {
      if (!shaping.sleepUntil(due)) {
        return Io::kStopped;
      }
    } else if (const Io slept = SleepUntil(waker, due); slept != Io::kOk) {
      return slept;
    }
    if (const Io written = WriteAll(fd, waker, bytes.subspan(sent, n)); written != Io::kOk) {
      return written;
    }
    sent += n;
  }
  return Io::kOk;
}

Fd &Fd::operator=(Fd &&other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

}  // namespace bluefin::emu
