// The scanner's end of the emulated link: a listening AF_UNIX stream socket
// on the Linux abstract name "bluefin/<ADDRESS>/<service class>" (on Windows
// a TCP listener on 127.0.0.1 at the port the module's emulated link derives
// from that name), and byte transfers that a stop request interrupts, paced
// when the link is shaped.
#ifndef BLUEFIN_EMULATOR_LINK_H
#define BLUEFIN_EMULATOR_LINK_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "emulator/shaping.h"

namespace bluefin::emu {

// "XX:XX:XX:XX:XX:XX" in either case, written back upper-case; nullopt for
// anything else.
std::optional<std::string> NormalizeAddress(std::string_view text);

// The abstract socket name (without the leading NUL) a scanner with this
// address listens on for the Serial Port service.
std::string ListenName(std::string_view normalizedAddress);

// An owned file descriptor; on Windows a socket, whose handle values fit an
// int in practice.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd &&other) noexcept : fd_(other.Release()) {}
  Fd &operator=(Fd &&other) noexcept;
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  ~Fd() { Reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();

 private:
  int fd_ = -1;
};

// Binds and listens on the abstract name. On failure returns an empty Fd
// and says why in *error.
Fd ListenOn(const std::string &name, std::string *error);

// An eventfd (on Windows a datagram socket that sends to itself) that wakes
// every wait of the emulator thread, for Stop. It stays set until drained.
class Waker {
 public:
  Waker();
  bool ok() const { return static_cast<bool>(fd_); }
  int fd() const { return fd_.get(); }
  void Wake();
  void Drain();

 private:
  Fd fd_;
};

enum class Io { kOk, kClosed, kStopped };

// Each returns kStopped as soon as the waker fires and kClosed when the
// peer went away or the socket failed.
Io AcceptOne(int listenFd, const Waker &waker, Fd *connection);
Io ReadExact(int fd, const Waker &waker, std::span<std::uint8_t> buffer);
Io WriteAll(int fd, const Waker &waker, std::span<const std::uint8_t> bytes);
// Ends both directions of a live connection, from any thread.
void ShutdownConnection(int fd);
// Sleeps until the deadline unless the waker fires first.
Io SleepUntil(const Waker &waker, std::chrono::steady_clock::time_point deadline);

// Bytes are paced in pieces of about a millisecond of airtime each, and
// never fewer than this.
inline constexpr std::size_t kMinPaceChunk = 64;

// Sends bytes shaped as LinkShaping describes; commandArrived is when the command's last
// byte was read, commandFrameBytes its size.
Io WriteShaped(int fd, const Waker &waker, const LinkShaping &shaping, std::span<const std::uint8_t> bytes,
               std::chrono::steady_clock::time_point commandArrived, std::size_t commandFrameBytes);

}  // namespace bluefin::emu

#endif  // BLUEFIN_EMULATOR_LINK_H
