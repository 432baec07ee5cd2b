// The emulated link's POSIX calls under the seam, failing for real: each
// failure carries errno and the failed call's name, and a full socket buffer
// is a send of nothing yet, not a failure.
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <functional>
#include <thread>

#include "bluetooth/platform/posix_common.h"
#include "test_support.h"

namespace vdm::test {
namespace {

using platform::Failure;

const platform::PlatformCalls &kCalls = platform::PlatformDefault();

bool OpenWithoutADescriptorToSpare(Failure *pFailure) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit none{0, limit.rlim_max};
  setrlimit(RLIMIT_NOFILE, &none);
  platform::SocketHandle socket = platform::kNoSocket;
  const bool opened = kCalls.open(&socket, pFailure);
  setrlimit(RLIMIT_NOFILE, &limit);
  return opened;
}

TEST(PosixCalls, FailuresCarryErrnoAndTheCallsName) {
  const platform::SocketHandle kBad = platform::kNoSocket;  // descriptor -1
  const VBluetoothSocketAddress address{V_BLUETOOTH_ADDRESS_FAMILY, 0x001122334455, {}, 0},
      noFamily{0, 0x001122334455, {}, 0};
  VUInt8 byte = 0;
  wchar_t text[17];
  VUInt32 length = 17;  // no room for the terminator
  const struct {
    const char *szCase;
    std::function<bool(Failure *)> call;  // true when the call succeeded
    VInt32 code;
    const wchar_t *szAt;
  } cases[] = {
      // clang-format off
      {"wait for a whole second in microseconds", [&](Failure *f) { return kCalls.wait(kBad, platform::Readiness::kReadable, {0, 1000000}, f) >= 0; }, EINVAL, L"   at select\r\n"},
      {"receive",                                 [&](Failure *f) { return kCalls.receive(kBad, &byte, 1, f) >= 0; },                                  EBADF,  L"   at recv\r\n"},
      {"send",                                    [&](Failure *f) { return kCalls.send(kBad, &byte, 1, f) >= 0; },                                     EBADF,  L"   at send\r\n"},
      {"shutdown",                                [&](Failure *f) { return kCalls.shutdown(kBad, f); },                                                EBADF,  L"   at shutdown\r\n"},
      {"close",                                   [&](Failure *f) { return kCalls.close(kBad, f); },                                                   EBADF,  L"   at closesocket\r\n"},
      {"address text without room",               [&](Failure *f) { return kCalls.addressToString(&address, text, &length, f); },                      EFAULT, L"   at WSAAddressToStringW\r\n"},
      {"random bytes into no buffer",             [&](Failure *f) { return kCalls.secureRandom(nullptr, 16, f); },                                     EFAULT, L"   at getrandom\r\n"},
      {"connect to a record of no family",        [&](Failure *f) { return kCalls.connect(kBad, &noFamily, f); },                                      EINVAL, L"   at connect\r\n"},
      {"open without a descriptor to spare",      OpenWithoutADescriptorToSpare,                                                                        EMFILE, L"   at socket\r\n"},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Failure failure;
    EXPECT_FALSE(c.call(&failure));
    EXPECT_EQ(failure.code, c.code);
    EXPECT_EQ(std::wstring(failure.szAt ? failure.szAt : L""), c.szAt);
  }
}

TEST(PosixCalls, ASendIntoAFullBufferMovesNothingYet) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  const emu::Fd ends[] = {emu::Fd(pair[0]), emu::Fd(pair[1])};
  const platform::SocketHandle socket = platform::posix::HandleFromDescriptor(pair[0]);
  std::vector<VUInt8> chunk(1 << 16);
  Failure failure;
  std::int64_t sent = 1;
  for (int i = 0; i < 1000 && sent > 0; ++i)
    sent = kCalls.send(socket, chunk.data(), static_cast<VUInt32>(chunk.size()), &failure);
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(kCalls.wait(socket, platform::Readiness::kWritable, {0, 0}, &failure), 0);
}

// A wait's deadline and what a signal leaves of it, across the second's
// edge: a slip there waits a second too long, or hands ppoll a negative or
// out-of-range time.
TEST(PosixCalls, WaitDeadlinesCrossSecondsAndNeverGoBelowZero) {
  using platform::posix::After;
  using platform::posix::Remaining;
  const auto same = [](timespec a, timespec b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
  EXPECT_TRUE(same(After({5, 950'000'000}, {0, 100'000}), {6, 50'000'000}));
  EXPECT_TRUE(same(After({5, 100}, {3, 0}), {8, 100}));
  EXPECT_TRUE(same(Remaining({6, 50'000'000}, {5, 950'000'000}), {0, 100'000'000}));
  EXPECT_TRUE(same(Remaining({6, 0}, {6, 1}), {0, 0}));
  EXPECT_TRUE(same(Remaining({6, 0}, {7, 0}), {0, 0}));
}

// A host may take signals on any thread, without SA_RESTART: an interrupted
// wait goes on for what is left of its limit and then times out, never
// failing with EINTR.
TEST(PosixCalls, SignalsDoNotCutAWaitShort) {
  struct sigaction quiet = {}, old = {};
  quiet.sa_handler = [](int) {};
  ASSERT_EQ(sigaction(SIGUSR1, &quiet, &old), 0);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  const emu::Fd ends[] = {emu::Fd(pair[0]), emu::Fd(pair[1])};
  std::atomic<bool> done{false};
  int ready = -2;
  Failure failure;
  std::thread waiter([&] {
    ready = kCalls.wait(platform::posix::HandleFromDescriptor(pair[0]), platform::Readiness::kReadable,
                        {0, 100000}, &failure);
    done.store(true);
  });
  int signals = 0;
  while (!done.load()) {
    pthread_kill(waiter.native_handle(), SIGUSR1);
    ++signals;
    std::this_thread::yield();
  }
  waiter.join();
  EXPECT_EQ(ready, 0) << "after " << signals << " signals";
  sigaction(SIGUSR1, &old, nullptr);
}

}  // namespace
}  // namespace vdm::test
