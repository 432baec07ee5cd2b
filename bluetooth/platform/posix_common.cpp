// The POSIX half of the Linux backends, written once for BlueZ and the
// emulated link: the shared calls of backend_calls.h and the helpers of
// posix_common.h.
#include "bluetooth/platform/posix_common.h"

#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <cwchar>

#include "bluetooth/platform/address_text.h"

namespace vdm::platform {
namespace {

constexpr wchar_t kAtGetrandom[] = L"   at getrandom\r\n";

constexpr long kNanosecondsPerSecond = 1000000000L;

bool Fail(int code, const wchar_t *szAt, Failure *pFailure) {
  pFailure->code = code;
  pFailure->szAt = szAt;
  return false;
}

timespec Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

}  // namespace

namespace posix {

timespec After(const timespec &now, WaitLimit limit) {
  timespec deadline{now.tv_sec + static_cast<time_t>(limit.seconds),
                    now.tv_nsec + static_cast<long>(limit.microseconds) * 1000L};
  if (deadline.tv_nsec >= kNanosecondsPerSecond) {
    deadline.tv_nsec -= kNanosecondsPerSecond;
    ++deadline.tv_sec;
  }
  return deadline;
}

timespec Remaining(const timespec &later, const timespec &earlier) {
  timespec left{later.tv_sec - earlier.tv_sec, later.tv_nsec - earlier.tv_nsec};
  if (left.tv_nsec < 0) {
    left.tv_nsec += kNanosecondsPerSecond;
    --left.tv_sec;
  }
  if (left.tv_sec < 0) {
    left = timespec{};
  }
  return left;
}

bool FailWithErrno(const wchar_t *szAt, Failure *pFailure) {
  return Fail(errno, szAt, pFailure);
}

bool OpenStream(int family, int protocol, SocketHandle *pSocket, Failure *pFailure) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    return FailWithErrno(kAtSocket, pFailure);
  }
  *pSocket = HandleFromDescriptor(fd);
  return true;
}

// A signal that interrupts a blocking connect ends only the wait: the
// connection goes on in the background, and a second connect would just be
// refused as already under way. So wait, without a limit like connect's own
// wait, for the socket to become writable, and take the outcome from
// SO_ERROR.
bool ConnectTo(SocketHandle socket, const void *pPeer, unsigned length, Failure *pFailure) {
  const int fd = DescriptorFromHandle(socket);
  if (connect(fd, static_cast<const sockaddr *>(pPeer), length) == 0) {
    return true;
  }
  if (errno != EINTR) {
    return FailWithErrno(kAtConnect, pFailure);
  }
  pollfd entry{fd, POLLOUT, 0};
  int ready = 0;
  do {
    ready = ppoll(&entry, 1, nullptr, nullptr);
  } while (ready < 0 && errno == EINTR);
  int error = 0;
  socklen_t size = sizeof(error);
  if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
    return FailWithErrno(kAtConnect, pFailure);
  }
  return error == 0 || Fail(error, kAtConnect, pFailure);
}

}  // namespace posix

namespace common {

using posix::DescriptorFromHandle;
using posix::FailWithErrno;

bool Startup(Failure *) {
  return true;
}
bool Cleanup(Failure *) {
  return true;
}

// ppoll rather than select: an fd_set cannot hold a descriptor at or above
// FD_SETSIZE, which a busy host process easily hands out, and FD_SET past it
// writes outside the set. A signal only restarts the wait for what is left of
// the limit.
int Wait(SocketHandle socket, Readiness readiness, WaitLimit limit, Failure *pFailure) {
  pollfd entry{DescriptorFromHandle(socket),
               static_cast<short>(readiness == Readiness::kReadable ? POLLIN : POLLOUT), 0};
  timespec left{static_cast<time_t>(limit.seconds), static_cast<long>(limit.microseconds) * 1000L};
  const timespec deadline = posix::After(Now(), limit);
  for (;;) {
    int ready = ppoll(&entry, 1, &left, nullptr);
    if (ready >= 0) {
      return ready > 0 ? 1 : 0;
    }
    if (errno != EINTR) {
      FailWithErrno(kAtSelect, pFailure);
      return -1;
    }
    left = posix::Remaining(deadline, Now());
  }
}

std::int64_t Receive(SocketHandle socket, void *pBuffer, VUInt32 size, Failure *pFailure) {
  for (;;) {
    ssize_t count = recv(DescriptorFromHandle(socket), pBuffer, size, 0);
    if (count >= 0) {
      return count;
    }
    if (errno != EINTR) {
      FailWithErrno(kAtRecv, pFailure);
      return -1;
    }
  }
}

// Non-blocking per call, so that the caller's readiness wait is the only
// place a send can stall: a blocking send of more than the socket buffer
// holds would wait for the peer without any limit. MSG_NOSIGNAL: a peer that
// went away must give EPIPE, not a SIGPIPE that ends the host process.
std::int64_t Send(SocketHandle socket, const void *pBuffer, VUInt32 size, Failure *pFailure) {
  for (;;) {
    ssize_t count = send(DescriptorFromHandle(socket), pBuffer, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count >= 0) {
      return count;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return 0;
    }
    if (errno != EINTR) {
      FailWithErrno(kAtSend, pFailure);
      return -1;
    }
  }
}

bool Shutdown(SocketHandle socket, Failure *pFailure) {
  return shutdown(DescriptorFromHandle(socket), SHUT_RDWR) == 0 || FailWithErrno(kAtShutdown, pFailure);
}

// No retry on EINTR: Linux has released the descriptor by then, and a second
// close could hit one another thread has just been given.
bool Close(SocketHandle socket, Failure *pFailure) {
  return close(DescriptorFromHandle(socket)) == 0 || FailWithErrno(kAtClose, pFailure);
}

bool StringToAddress(const wchar_t *szText, VBluetoothSocketAddress *pAddress, Failure *pFailure) {
  return AddressFromText(szText, pAddress) == TextFault::kNone || Fail(EINVAL, kAtStringToAddress, pFailure);
}

bool AddressToString(const VBluetoothSocketAddress *pAddress, wchar_t *szText, VUInt32 *pLength,
                     Failure *pFailure) {
  switch (AddressToText(pAddress, szText, pLength)) {
    case TextFault::kNone:
      return true;
    case TextFault::kNoRoom:
      return Fail(EFAULT, kAtAddressToString, pFailure);
    case TextFault::kInvalid:
      break;
  }
  return Fail(EINVAL, kAtAddressToString, pFailure);
}

// getrandom may return less than asked when a signal arrives during a large
// request; keep going until the buffer is full.
bool SecureRandom(VUInt8 *pBuffer, VUInt32 size, Failure *pFailure) {
  VUInt32 filled = 0;
  while (filled < size) {
    ssize_t count = getrandom(pBuffer + filled, size - filled, 0);
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return FailWithErrno(kAtGetrandom, pFailure);
    }
    filled += static_cast<VUInt32>(count);
  }
  return true;
}

}  // namespace common
}  // namespace vdm::platform
