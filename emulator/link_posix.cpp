// The scanner's end of the emulated link on Linux: an abstract AF_UNIX
// listener, an eventfd waker, and poll-based transfers.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "emulator/link.h"

namespace bluefin::emu {
namespace {

constexpr int kListenBacklog = 4;

bool Transient(int error) {
  return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

// Waits until fd is ready for events or the waker fires.
Io Wait(int fd, short events, const Waker &waker) {
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {waker.fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Io::kClosed;
    }
    if (fds[1].revents != 0) {
      return Io::kStopped;
    }
    if (fds[0].revents != 0) {
      return Io::kOk;
    }
  }
}

std::string ErrnoText(int error) {
  char buffer[128];
  // The GNU strerror_r may return a static string instead of filling ours.
  return ::strerror_r(error, buffer, sizeof(buffer));
}

}  // namespace

void Fd::Reset() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

Fd ListenOn(const std::string &name, std::string *error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // Abstract names start with a NUL and have no terminating one; the
  // address length alone says where the name ends.
  if (name.size() + 1 > sizeof(address.sun_path)) {
    *error = "Listen name is too long: " + name;
    return Fd();
  }
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());

  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) {
    *error = "Cannot create the listening socket: " + ErrnoText(errno);
    return Fd();
  }
  if (::bind(fd.get(), reinterpret_cast<const sockaddr *>(&address), length) != 0) {
    const int bindError = errno;
    *error = bindError == EADDRINUSE ? "Another scanner already listens on @" + name
                                     : "Cannot bind @" + name + ": " + ErrnoText(bindError);
    return Fd();
  }
  if (::listen(fd.get(), kListenBacklog) != 0) {
    *error = "Cannot listen on @" + name + ": " + ErrnoText(errno);
    return Fd();
  }
  return fd;
}

Waker::Waker() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void Waker::Wake() {
  const std::uint64_t one = 1;
  // Only fails when the counter would overflow, and then it is set anyway.
  [[maybe_unused]] const ssize_t written = ::write(fd_.get(), &one, sizeof(one));
}

void Waker::Drain() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(fd_.get(), &count, sizeof(count));
}

Io AcceptOne(int listenFd, const Waker &waker, Fd *connection) {
  for (;;) {
    const Io ready = Wait(listenFd, POLLIN, waker);
    if (ready != Io::kOk) {
      return ready;
    }
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      *connection = Fd(fd);
      return Io::kOk;
    }
    // A client that gave up between poll and accept is not our failure.
    if (!Transient(errno) && errno != ECONNABORTED) {
      return Io::kClosed;
    }
  }
}

Io ReadExact(int fd, const Waker &waker, std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const Io ready = Wait(fd, POLLIN, waker);
    if (ready != Io::kOk) {
      return ready;
    }
    const ssize_t got = ::recv(fd, buffer.data() + done, buffer.size() - done, MSG_DONTWAIT);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got == 0 || !Transient(errno)) {
      return Io::kClosed;
    }
  }
  return Io::kOk;
}

Io WriteAll(int fd, const Waker &waker, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const Io ready = Wait(fd, POLLOUT, waker);
    if (ready != Io::kOk) {
      return ready;
    }
    // MSG_NOSIGNAL: a host that hung up must not take the process down with
    // SIGPIPE.
    const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
    } else if (sent == 0 || !Transient(errno)) {
      return Io::kClosed;
    }
  }
  return Io::kOk;
}

Io SleepUntil(const Waker &waker, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) {
      return Io::kOk;
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    pollfd fds[1] = {{waker.fd(), POLLIN, 0}};
    const int ready = ::ppoll(fds, 1, &timeout, nullptr);
    if (ready > 0) {
      return Io::kStopped;
    }
    if (ready < 0 && errno != EINTR) {
      return Io::kClosed;
    }
  }
}

void ShutdownConnection(int fd) {
  ::shutdown(fd, SHUT_RDWR);
}

}  // namespace bluefin::emu
