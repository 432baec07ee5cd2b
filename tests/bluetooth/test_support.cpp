#include "test_support.h"

#include <algorithm>
#include <iterator>
#include <tuple>
#include <type_traits>

#include "bluetooth/platform/emulated_link.h"

namespace vdm::test {

using platform::Failure;
using platform::PlatformCalls;
using platform::Readiness;
using platform::SocketHandle;
using platform::WaitLimit;

void ExpectPlatformError(VInt32 code, const wchar_t *szAt) {
  const vfw::LastError error = GetLastError();
  EXPECT_EQ(error.code, V_E_WIN32);
  EXPECT_EQ(error.platformCode, code);
  EXPECT_EQ(error.callStack, szAt);
}

::testing::AssertionResult Gave(VResult result, VResult code, const wchar_t *szMessage,
                                const std::wstring &parameter) {
  const vfw::LastError error = GetLastError();
  if (result == code && (szMessage == nullptr || (error.code == code && error.message == szMessage &&
                                                  error.parameterName == parameter))) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "result " << result << ", last error " << error.code << " \"" << vfw::ToUtf8(error.message)
         << "\" (" << vfw::ToUtf8(error.parameterName) << "); expected " << code;
}

namespace {

constexpr char kStartup[] = "startup", kCleanup[] = "cleanup", kOpen[] = "open", kConnect[] = "connect",
               kWait[] = "wait", kReceive[] = "receive", kSend[] = "send", kShutdown[] = "shutdown",
               kClose[] = "close", kToAddress[] = "stringToAddress", kToString[] = "addressToString",
               kRandom[] = "secureRandom";

template <typename Member>
struct Recorder;

// One recording wrapper per table member: plays the scripted outcome or the
// inner table's, then records the call with its limit, readiness and the
// bytes the inner table moved.
template <typename R, typename... Args>
struct Recorder<R (*PlatformCalls::*)(Args...)> {
  template <auto kMember, const char *kName>
  static R Call(Args... args) {
    FakePlatform &fake = FakePlatform::Get();
    PlatformCall call{kName};
    const auto tied = std::tie(args...);
    if constexpr (kName == kWait) {
      call.readiness = std::get<1>(tied);
      call.limit = std::get<2>(tied);
    }
    std::deque<Outcome> &script = fake.scripts[kName];
    R result;
    if (script.empty()) {
      result = (fake.inner->*kMember)(args...);
      if constexpr (kName == kSend || kName == kReceive) {
        const auto *pBytes = static_cast<const VUInt8 *>(std::get<1>(tied));
        call.bytes.assign(pBytes, pBytes + std::max<R>(result, 0));
      } else if constexpr (kName == kRandom) {
        call.bytes.assign(std::get<0>(tied), std::get<0>(tied) + (result ? std::get<1>(tied) : 0));
      }
    } else {
      const Outcome outcome = script.front();
      script.pop_front();
      if (outcome.fails)
        *std::get<sizeof...(Args) - 1>(tied) = outcome.failure;
      result = std::is_same_v<R, bool> ? !outcome.fails : static_cast<R>(outcome.value);
    }
    fake.calls.push_back(call);
    if (fake.after)
      fake.after(kName);
    return result;
  }
};

template <auto kMember, const char *kName>
constexpr auto kRecorded = &Recorder<decltype(kMember)>::template Call<kMember, kName>;

constexpr PlatformCalls kRecording{
    kRecorded<&PlatformCalls::startup, kStartup>,
    kRecorded<&PlatformCalls::cleanup, kCleanup>,
    kRecorded<&PlatformCalls::open, kOpen>,
    kRecorded<&PlatformCalls::connect, kConnect>,
    kRecorded<&PlatformCalls::wait, kWait>,
    kRecorded<&PlatformCalls::receive, kReceive>,
    kRecorded<&PlatformCalls::send, kSend>,
    kRecorded<&PlatformCalls::shutdown, kShutdown>,
    kRecorded<&PlatformCalls::close, kClose>,
    kRecorded<&PlatformCalls::stringToAddress, kToAddress>,
    kRecorded<&PlatformCalls::addressToString, kToString>,
    kRecorded<&PlatformCalls::secureRandom, kRandom>,
};

}  // namespace

FakePlatform &FakePlatform::Get() {
  static FakePlatform fake;
  return fake;
}

const PlatformCalls &FakePlatform::AlwaysSucceeds() {
  static const PlatformCalls kCalls = [] {
    PlatformCalls calls = platform::PlatformDefault();  // address text and random stay real
    calls.startup = calls.cleanup = [](Failure *) { return true; };
    calls.open = [](SocketHandle *pSocket, Failure *) { return *pSocket = 0x5A5A, true; };
    calls.connect = [](SocketHandle, const VBluetoothSocketAddress *, Failure *) { return true; };
    calls.wait = [](SocketHandle, Readiness, WaitLimit, Failure *) { return 1; };
    calls.receive = [](SocketHandle, void *, VUInt32 size, Failure *) { return std::int64_t{size}; };
    calls.send = [](SocketHandle, const void *, VUInt32 size, Failure *) { return std::int64_t{size}; };
    calls.shutdown = calls.close = [](SocketHandle, Failure *) { return true; };
    return calls;
  }();
  return kCalls;
}

void FakePlatform::Install(const PlatformCalls &innerCalls) {
  Uninstall();
  inner = &innerCalls;
  platform::SetPlatformCalls(&kRecording);
}

void FakePlatform::Uninstall() {
  platform::SetPlatformCalls(nullptr);
  *this = FakePlatform{};
}

Names FakePlatform::CallNames() const {
  Names names(calls.size());
  std::ranges::transform(calls, names.begin(), &PlatformCall::name);
  return names;
}

std::vector<PlatformCall> FakePlatform::CallsNamed(const std::string &name) const {
  std::vector<PlatformCall> named;
  std::ranges::copy_if(calls, std::back_inserter(named),
                       [&](const PlatformCall &call) { return call.name == name; });
  return named;
}

TestPeer::TestPeer(const std::string &address, const VUInt8 serviceClass[16]) {
  std::string error;
  listener_ = emu::ListenOn(EmulatedLinkName(address, serviceClass), &error);
  EXPECT_TRUE(listener_) << error;
}

int TestPeer::Accept() {
  emu::Fd connection;
  EXPECT_EQ(emu::AcceptOne(listener_.get(), waker_, &connection), emu::Io::kOk);
  accepted_.push_back(std::move(connection));
  return accepted_.back().get();
}

void TestPeer::Write(int fd, const std::vector<VUInt8> &bytes) {
  EXPECT_EQ(emu::WriteAll(fd, waker_, bytes), emu::Io::kOk);
}

Handle MakeDevice(const std::string &address, const wchar_t *szName) {
  Handle name = MakeString(szName), text = MakeString(std::wstring(address.begin(), address.end()).c_str());
  Handle device;
  EXPECT_EQ(VBluetoothDeviceCreateFromString(name.get(), text.get(), device.put()), V_OK);
  return device;
}

void TransportTest::SetUp() {
  Handle type;
  ASSERT_EQ(VBluetoothDeviceTypeOf(type.put()), V_OK);
  ASSERT_EQ(VBluetoothSocketTypeOf(type.put()), V_OK);
  type.reset();
  VErrorClearLast();
  baseline_ = HostFootprint{};
}

TransportTest::~TransportTest() {
  FakePlatform::Get().Uninstall();
  VErrorClearLast();
  EXPECT_EQ(HostFootprint{}, baseline_) << "the test left host objects behind";
}

}  // namespace vdm::test
