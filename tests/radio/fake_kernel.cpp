// A stand-in for the kernel's Bluetooth sockets, for machines whose kernel
// has no AF_BLUETOOTH. Loaded ahead of libc (linked in, or LD_PRELOAD), it
// answers the AF_BLUETOOTH socket calls and passes every other call on, so
// that libbluetooth's SDP client and the BlueZ backend run unmodified.
//
// A Bluetooth socket is an AF_UNIX socket of the same kind (SEQPACKET for
// L2CAP, STREAM for RFCOMM); a connect asks the remote device of the address
// (radio_wire.h), and the socket it hands back takes the descriptor's place.
// The errno values are the kernel's: EINVAL for a malformed address or an
// RFCOMM channel outside 1..30, EHOSTDOWN when nobody answers the page. A
// connect a signal interrupts fails with EINTR and goes on: ppoll reports
// the socket once it is done, SO_ERROR gives the outcome, and a second
// connect meanwhile gets EALREADY. Not modelled: non-blocking connects,
// other socket options, binding, LE and fixed L2CAP channels, dup().
#include <bluetooth/bluetooth.h>
#include <bluetooth/l2cap.h>
#include <bluetooth/rfcomm.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tests/radio/radio_wire.h"

namespace {

using namespace vdm::radio;

template <typename Function>
Function Next(const char *name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The calls this library stands in front of, as the next library (libc, or
// a sanitizer's interceptor) provides them.
struct Libc {
  decltype(&::socket) socket = Next<decltype(&::socket)>("socket");
  decltype(&::connect) connect = Next<decltype(&::connect)>("connect");
  decltype(&::getsockopt) getsockopt = Next<decltype(&::getsockopt)>("getsockopt");
  decltype(&::close) close = Next<decltype(&::close)>("close");
  decltype(&::ppoll) ppoll = Next<decltype(&::ppoll)>("ppoll");
};

const Libc &Real() {
  static const Libc calls;
  return calls;
}

int Fail(int error) {
  errno = error;
  return -1;
}

struct FakeSocket {
  int protocol = 0;
  int control = -1;  // the device's answer to a connect still in progress
  int error = 0;     // the outcome of a connect that finished in the background
  bool connected = false;
};

std::mutex gMutex;
std::unordered_map<int, FakeSocket> gSockets;
// Lets every call on other descriptors skip the lock while no Bluetooth
// socket exists, which is almost always.
std::atomic<int> gSocketCount{0};
// Set while this thread holds gMutex: a call that comes back in meanwhile
// (a sanitizer's report closing a file, say) goes straight to libc.
thread_local bool tHolding = false;

class Locked {
 public:
  Locked() : lock_(gMutex) { tHolding = true; }
  ~Locked() { tHolding = false; }

 private:
  std::lock_guard<std::mutex> lock_;
};

bool Active() {
  return !tHolding && gSocketCount.load(std::memory_order_acquire) != 0;
}

// Changes fd's entry under the lock; false when fd is no Bluetooth socket.
template <typename Change>
bool Update(int fd, Change change) {
  if (!Active()) {
    return false;
  }
  Locked lock;
  const auto found = gSockets.find(fd);
  if (found != gSockets.end()) {
    change(found->second);
  }
  return found != gSockets.end();
}

bool Tracked(int fd, FakeSocket *pCopy) {
  return Update(fd, [pCopy](const FakeSocket &socket) { *pCopy = socket; });
}

// The remote device's control socket with the request sent, or -1 when
// nobody listens there.
int CallDevice(const bdaddr_t &address, const ConnectRequest &request) {
  char text[18];  // bdaddr_t order: least significant byte first
  std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", address.b[5], address.b[4], address.b[3],
                address.b[2], address.b[1], address.b[0]);
  socklen_t length = 0;
  const sockaddr_un peer = AbstractAddress(kRadioNamePrefix + std::string(text), &length);
  const int control = Real().socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (control >= 0 && (Real().connect(control, reinterpret_cast<const sockaddr *>(&peer), length) != 0 ||
                       send(control, &request, sizeof(request), MSG_NOSIGNAL) <= 0)) {
    Real().close(control);
    return -1;
  }
  return control;
}

// Reads the device's next reply: false while the connect goes on (a signal
// came, or nothing yet where wait is false); else *pError is 0 with the
// connected socket in *pSocket, or the connect's errno.
bool ReadAnswer(int control, bool wait, int *pError, int *pSocket) {
  ConnectReply reply{};
  iovec data{&reply, sizeof(reply)};
  alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = space;
  message.msg_controllen = sizeof(space);
  const ssize_t got = recvmsg(control, &message, MSG_CMSG_CLOEXEC | (wait ? 0 : MSG_DONTWAIT));
  if ((got < 0 && (errno == EINTR || errno == EAGAIN)) || reply.error == kInterrupted) {
    return false;
  }
  *pError = got == static_cast<ssize_t>(sizeof(reply)) ? reply.error : ECONNRESET;
  const cmsghdr *header = CMSG_FIRSTHDR(&message);
  if (*pError == 0 && (header == nullptr || header->cmsg_type != SCM_RIGHTS)) {
    *pError = EPROTO;
  } else if (*pError == 0) {
    std::memcpy(pSocket, CMSG_DATA(header), sizeof(int));
  }
  return true;
}

// Settles a connect: the connected socket takes fd's place (keeping its
// close-on-exec flag), or fd stays unconnected and the error is kept for
// SO_ERROR when the connect went on in the background.
void Settle(int fd, int error, int connected, bool background) {
  if (error == 0) {
    dup3(connected, fd, (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0 ? O_CLOEXEC : 0);
    Real().close(connected);
  }
  Update(fd, [&](FakeSocket &socket) {
    socket.control = -1;
    socket.connected = error == 0;
    socket.error = background ? error : 0;
  });
}

// A connect in progress finishes if the device has answered by now.
void TrySettle(int fd) {
  FakeSocket socket;
  if (!Tracked(fd, &socket) || socket.control < 0) {
    return;
  }
  int error = 0;
  int connected = -1;
  if (ReadAnswer(socket.control, false, &error, &connected)) {
    Real().close(socket.control);
    Settle(fd, error, connected, true);
  }
}

// The address connect() names, or an errno.
int Destination(int protocol, const sockaddr *address, socklen_t length, bdaddr_t *pDevice,
                ConnectRequest *pRequest) {
  const std::size_t least = protocol == BTPROTO_L2CAP ? sizeof(sa_family_t) : sizeof(sockaddr_rc);
  if (address == nullptr || length < least || address->sa_family != AF_BLUETOOTH) {
    return EINVAL;
  }
  if (protocol == BTPROTO_L2CAP) {
    sockaddr_l2 l2{};
    std::memcpy(&l2, address, std::min<std::size_t>(length, sizeof(l2)));
    *pDevice = l2.l2_bdaddr;
    *pRequest = {Link::kL2cap, 0, btohs(l2.l2_psm)};
    return 0;
  }
  sockaddr_rc rc{};
  std::memcpy(&rc, address, sizeof(rc));
  if (rc.rc_channel < 1 || rc.rc_channel > 30) {
    return EINVAL;
  }
  *pDevice = rc.rc_bdaddr;
  *pRequest = {Link::kRfcomm, 0, rc.rc_channel};
  return 0;
}

int ConnectBluetooth(int fd, const FakeSocket &socket, const sockaddr *address, socklen_t length) {
  if (socket.control >= 0) {
    return Fail(EALREADY);
  }
  if (socket.connected) {
    return Fail(EISCONN);
  }
  bdaddr_t device{};
  ConnectRequest request{};
  if (const int invalid = Destination(socket.protocol, address, length, &device, &request)) {
    return Fail(invalid);
  }
  const int control = CallDevice(device, request);
  if (control < 0) {
    return Fail(EHOSTDOWN);  // page time-out: no device answers at this address
  }
  int error = 0;
  int connected = -1;
  if (!ReadAnswer(control, true, &error, &connected)) {
    Update(fd, [control](FakeSocket &socket) { socket.control = control; });
    return Fail(EINTR);
  }
  Real().close(control);
  Settle(fd, error, connected, false);
  return error == 0 ? 0 : Fail(error);
}

}  // namespace

extern "C" {

int socket(int domain, int type, int protocol) noexcept {
  if (domain != AF_BLUETOOTH) {
    return Real().socket(domain, type, protocol);
  }
  if (protocol != BTPROTO_L2CAP && protocol != BTPROTO_RFCOMM) {
    return Fail(EPROTONOSUPPORT);
  }
  if ((type & ~(SOCK_NONBLOCK | SOCK_CLOEXEC)) !=
      (protocol == BTPROTO_L2CAP ? SOCK_SEQPACKET : SOCK_STREAM)) {
    return Fail(ESOCKTNOSUPPORT);
  }
  const int fd = Real().socket(AF_UNIX, type, 0);
  if (fd >= 0) {
    Locked lock;
    if (gSockets.insert_or_assign(fd, FakeSocket{protocol}).second) {
      gSocketCount.fetch_add(1, std::memory_order_release);
    }
  }
  return fd;
}

int connect(int fd, const sockaddr *address, socklen_t length) {
  FakeSocket socket;
  if (!Tracked(fd, &socket)) {
    return Real().connect(fd, address, length);
  }
  return ConnectBluetooth(fd, socket, address, length);
}

// Only the wait for an interrupted connect polls its socket, and alone:
// the device's answer on the control socket makes the socket writable
// (connected) or in error.
int ppoll(pollfd *fds, nfds_t count, const timespec *timeout, const sigset_t *mask) {
  FakeSocket socket;
  const std::vector<pollfd> asked(fds, fds + count);  // libc declares fds write-only
  if (count != 1 || !Tracked(asked[0].fd, &socket) || socket.control < 0) {
    return Real().ppoll(fds, count, timeout, mask);
  }
  pollfd answer{socket.control, POLLIN, 0};
  const int ready = Real().ppoll(&answer, 1, timeout, mask);
  if (ready <= 0) {
    return ready;
  }
  TrySettle(asked[0].fd);
  Tracked(asked[0].fd, &socket);
  if (socket.control >= 0) {
    return Fail(EINTR);  // only another interruption came
  }
  if (socket.connected) {
    const timespec now{};
    return Real().ppoll(fds, 1, &now, nullptr);
  }
  fds[0].revents = POLLERR | POLLHUP;
  return 1;
}

int getsockopt(int fd, int level, int name, void *value, socklen_t *pLength) noexcept {
  int error = 0;
  if (level == SOL_SOCKET && name == SO_ERROR) {
    TrySettle(fd);
    Update(fd, [&error](FakeSocket &socket) { error = std::exchange(socket.error, 0); });
  }
  if (error == 0) {
    return Real().getsockopt(fd, level, name, value, pLength);
  }
  std::memcpy(value, &error, sizeof(int));
  *pLength = sizeof(int);
  return 0;
}

int close(int fd) {
  if (Active()) {
    int control = -1;
    {
      Locked lock;
      const auto found = gSockets.find(fd);
      if (found != gSockets.end()) {
        control = found->second.control;
        gSockets.erase(found);
        gSocketCount.fetch_sub(1, std::memory_order_release);
      }
    }
    if (control >= 0) {
      Real().close(control);
    }
  }
  return Real().close(fd);
}

}  // extern "C"
