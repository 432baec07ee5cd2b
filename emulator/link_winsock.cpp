// The scanner's end of the emulated link on Windows (and Wine, which has no
// AF_UNIX): a TCP listener on 127.0.0.1 at the link name's port, a datagram
// socket that wakes the waits by sending to itself, and select-based
// transfers.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>

#include "bluetooth/platform/emulated_link.h"
#include "emulator/link.h"

namespace bluefin::emu {
namespace {

constexpr int kListenBacklog = 4;

// The emulator may run in a program that never started Winsock itself; the
// start-up is held until the process ends.
bool WinsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET AsSocket(int fd) {
  return static_cast<SOCKET>(fd);
}

bool Transient(int error) {
  return error == WSAEINTR || error == WSAEWOULDBLOCK;
}

bool MakeNonBlocking(SOCKET socket) {
  u_long nonBlocking = 1;
  return ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

// Waits until fd is ready (readable, or writable when write is set) or the
// waker fires; a null timeout waits without limit.
Io Wait(int fd, bool write, const Waker &waker, timeval *timeout) {
  for (;;) {
    fd_set reads;
    fd_set writes;
    FD_ZERO(&reads);
    FD_ZERO(&writes);
    FD_SET(AsSocket(waker.fd()), &reads);
    if (fd >= 0) {
      FD_SET(AsSocket(fd), write ? &writes : &reads);
    }
    const int ready = ::select(0, &reads, &writes, nullptr, timeout);
    if (ready == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEINTR) {
        continue;
      }
      return Io::kClosed;
    }
    if (FD_ISSET(AsSocket(waker.fd()), &reads)) {
      return Io::kStopped;
    }
    // With no socket to wait for, a ready count of 0 is the time-out.
    return Io::kOk;
  }
}

std::string ErrorText(const char *what) {
  return std::string(what) + " (Winsock error " + std::to_string(WSAGetLastError()) + ")";
}

}  // namespace

void Fd::Reset() {
  if (fd_ >= 0) {
    ::closesocket(AsSocket(fd_));
    fd_ = -1;
  }
}

Fd ListenOn(const std::string &name, std::string *error) {
  if (!WinsockStarted()) {
    *error = ErrorText("Cannot start Winsock");
    return Fd();
  }
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) {
    *error = ErrorText("Cannot create the listening socket");
    return Fd();
  }
  Fd fd(static_cast<int>(socket));
  // Exclusive: a second scanner on the same name must fail to bind rather
  // than share the port.
  BOOL exclusive = TRUE;
  ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&exclusive),
               sizeof(exclusive));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(EmulatedLinkPort(name));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(socket, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
    const int bindError = WSAGetLastError();
    *error = bindError == WSAEADDRINUSE || bindError == WSAEACCES
                 ? "Another scanner already listens on @" + name
                 : ErrorText(("Cannot bind @" + name).c_str());
    return Fd();
  }
  if (::listen(socket, kListenBacklog) != 0 || !MakeNonBlocking(socket)) {
    *error = ErrorText(("Cannot listen on @" + name).c_str());
    return Fd();
  }
  return fd;
}

Waker::Waker() {
  if (!WinsockStarted()) {
    return;
  }
  const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (socket == INVALID_SOCKET) {
    return;
  }
  Fd fd(static_cast<int>(socket));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Connected to its own address, so that Wake is a plain send.
  int length = sizeof(address);
  if (::bind(socket, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0 ||
      ::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
      ::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0 ||
      !MakeNonBlocking(socket)) {
    return;
  }
  fd_ = std::move(fd);
}

void Waker::Wake() {
  const char one = 1;
  // A full buffer already holds a wake-up.
  ::send(AsSocket(fd_.get()), &one, 1, 0);
}

void Waker::Drain() {
  char buffer[64];
  while (::recv(AsSocket(fd_.get()), buffer, sizeof(buffer), 0) > 0) {
  }
}

Io AcceptOne(int listenFd, const Waker &waker, Fd *connection) {
  for (;;) {
    const Io ready = Wait(listenFd, false, waker, nullptr);
    if (ready != Io::kOk) {
      return ready;
    }
    const SOCKET socket = ::accept(AsSocket(listenFd), nullptr, nullptr);
    if (socket != INVALID_SOCKET) {
      // An accepted socket inherits the listener's non-blocking mode.
      *connection = Fd(static_cast<int>(socket));
      return Io::kOk;
    }
    // A client that gave up between select and accept is not our failure.
    const int error = WSAGetLastError();
    if (!Transient(error) && error != WSAECONNRESET) {
      return Io::kClosed;
    }
  }
}

Io ReadExact(int fd, const Waker &waker, std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const Io ready = Wait(fd, false, waker, nullptr);
    if (ready != Io::kOk) {
      return ready;
    }
    const int got = ::recv(AsSocket(fd), reinterpret_cast<char *>(buffer.data() + done),
                           static_cast<int>(buffer.size() - done), 0);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got == 0 || !Transient(WSAGetLastError())) {
      return Io::kClosed;
    }
  }
  return Io::kOk;
}

Io WriteAll(int fd, const Waker &waker, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const Io ready = Wait(fd, true, waker, nullptr);
    if (ready != Io::kOk) {
      return ready;
    }
    const int sent = ::send(AsSocket(fd), reinterpret_cast<const char *>(bytes.data() + done),
                            static_cast<int>(bytes.size() - done), 0);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
    } else if (sent == 0 || !Transient(WSAGetLastError())) {
      return Io::kClosed;
    }
  }
  return Io::kOk;
}

void ShutdownConnection(int fd) {
  ::shutdown(AsSocket(fd), SD_BOTH);
}

Io SleepUntil(const Waker &waker, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) {
      return Io::kOk;
    }
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count() + 1;
    timeval timeout{static_cast<long>(us / 1000000), static_cast<long>(us % 1000000)};
    const Io slept = Wait(-1, false, waker, &timeout);
    if (slept != Io::kOk) {
      return slept;
    }
  }
}

}  // namespace bluefin::emu
