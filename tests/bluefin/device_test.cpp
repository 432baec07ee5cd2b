// A BlueFinDevice: the opening echo and its waits; the identity, status and
// key commands, decoded, refused or failed; session keys; null arguments.
#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <tuple>

#include "bluefin/framing.h"
#include "scanner_fixture.h"

namespace vdm::bluefin::test {
namespace {

using DeviceTest = ScannerTest;

// Link faults at the echo, stray frames among them, are met by
// LinkFailureSweepTest; these are the echo's own checks.
TEST_F(DeviceTest, EchoFailuresFailTheOpeningAndCloseTheConnection) {
  const auto echo = On(Command::kEcho);
  const wchar_t *kLength = L"Response length is different from request length";
  const struct {
    const char *szCase;
    std::vector<Fault> faults;
    const wchar_t *szMessage;
  } cases[] = {
      // clang-format off
      {"longer",          {Fault::PayloadLength(echo, 17)}, kLength},
      {"shorter",         {Fault::PayloadLength(echo, 15)}, kLength},
      {"pattern byte 14", {Fault::WrongEcho(echo, 14)},     L"Invalid response from echo command"},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Inject(c.faults);
    EXPECT_TRUE(Gave(Open(), V_E_FAILED, c.szMessage));
    EXPECT_EQ(device, nullptr);
    // The scanner serves one connection at a time: it answers again only if
    // the failed opening closed its own.
    EXPECT_EQ(Open(), V_OK);
    Close();
  }
}

// An echo under the default key opens the device; sends wait one second
// for room, receives three for the answer.
TEST_F(DeviceTest, OpensWithAnEchoAndDecodesTheAnswers) {
  Close();
  emu::Options options;
  options.model = "ABC";  // padded with zero bytes on the wire
  options.serial = 0xFEDCBA98;
  options.readyAfterPolls = 2;
  Start(options);
  ASSERT_EQ(Open(), V_OK);
  EXPECT_EQ(Codes(), std::vector<int>{0x01});
  EXPECT_EQ(emulator->Transcript()[0].key, kDefaultKey);
  EXPECT_EQ(emulator->Transcript()[0].arguments, (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
  const std::vector<vdm::test::PlatformCall> waits = Seam().CallsNamed("wait");
  ASSERT_FALSE(waits.empty());
  for (const vdm::test::PlatformCall &wait : waits) {
    EXPECT_EQ(wait.limit.seconds * 1000 + wait.limit.microseconds / 1000,
              wait.readiness == Readiness::kWritable ? 1000u : 3000u);
  }

  char model[8];
  std::memset(model, 'x', sizeof model);
  VUInt32 serial = 0, value14 = 0;
  VUInt8 value12 = 0, value13 = 9;
  ASSERT_EQ(BlueFinGetDeviceInfo(device, model, &serial, &value12, &value13, &value14), V_OK);
  EXPECT_STREQ(model, "ABC");
  EXPECT_EQ(serial, 0xFEDCBA98u);
  // The emulator's hardware revision 1.0 and firmware 0x0102.
  EXPECT_EQ(std::tuple(value12, value13, value14), std::tuple(1, 0, 0x0102u));

  ASSERT_EQ(BlueFinSetKey(device, kSessionKey.data(), 32), V_OK);
  using Status = std::array<VUInt32, 4>;  // two flags, ready, and a counter
  const auto poll = [&] {
    Status out{9, 9, 9, 9};
    EXPECT_EQ(BlueFinGetStatus(device, &out[0], &out[1], &out[2], &out[3]), V_OK);
    return out;
  };
  EXPECT_EQ(poll(), (Status{0, 0, 0, 0}));
  ASSERT_EQ(BlueFinSetStatus(device, 1), V_OK);
  EXPECT_EQ(poll(), (Status{1, 1, 0, 1}));
  EXPECT_EQ(poll(), (Status{1, 1, 0, 2}));
  EXPECT_EQ(poll(), (Status{1, 1, 1, 2}));
  // All outputs null: still asked for.
  EXPECT_EQ(BlueFinGetStatus(device, nullptr, nullptr, nullptr, nullptr), V_OK);
  EXPECT_EQ(Codes().size(), 2u + 1 + 1 + 4 + 1);
}

// A refused call sends nothing; a bad answer fails its command. Either way the
// device keeps its key and mode, and its outputs are not written.
TEST_F(DeviceTest, RefusalsAndBadAnswersLeaveTheDeviceAsItWas) {
  const auto identity = On(Command::kIdentity), key = On(Command::kSetKey), status = On(Command::kGetStatus),
             set = On(Command::kSetStatus);
  const wchar_t *kNotSecure = L"Device is not in secure mode", *kNotSet = L"New AES key was not set",
                *kShort = L"Response too short", *kNotChanged = L"Status was not changed";
  VUInt32 out = 7;
  HVImage image = nullptr;
  using Call = std::function<VResult(HVBlueFin)>;
  const Call getStatus = [&](HVBlueFin h) { return BlueFinGetStatus(h, &out, &out, &out, &out); };
  const Call setStatus = [](HVBlueFin h) { return BlueFinSetStatus(h, 1); };
  const Call setKey = [](HVBlueFin h) { return BlueFinSetKey(h, kSessionKey.data(), 32); };
  const struct {
    const char *szCase;
    bool secure;
    std::vector<Fault> faults;
    Call call;
    VResult code;
    const wchar_t *szMessage;  // null: accepted
  } cases[] = {
      // clang-format off
      {"status query, not secure",   false, {},                                getStatus,                                                         V_E_INVALID_OPERATION, kNotSecure},
      {"status command, not secure", false, {},                                setStatus,                                                         V_E_INVALID_OPERATION, kNotSecure},
      {"image, not secure",          false, {},                                [&](HVBlueFin h) { return BlueFinGetImage(h, &image); },           V_E_INVALID_OPERATION, kNotSecure},
      {"a 16-byte key",              false, {},                                [](HVBlueFin h) { return BlueFinSetKey(h, kSessionKey.data(), 16); }, V_E_ARGUMENT,       L"Only 256 bit (32 byte) keys are supported"},
      {"identity cut to 15",         false, {Fault::PayloadLength(identity, 15)}, [&](HVBlueFin h) { return BlueFinGetDeviceInfo(h, nullptr, &out, nullptr, nullptr, nullptr); }, V_E_FAILED, L"Response is too short"},
      {"key refused",                false, {Fault::RefuseKey(key, 0)},        setKey,                                                            V_E_FAILED,            kNotSet},
      {"key refused another way",    false, {Fault::RefuseKey(key, 2)},        setKey,                                                            V_E_FAILED,            kNotSet},
      {"key answer cut to 12",       false, {Fault::PayloadLength(key, 12)},   setKey,                                                            V_E_FAILED,            kNotSet},
      {"status cut to 15",           true,  {Fault::PayloadLength(status, 15)}, getStatus,                                                        V_E_FAILED,            kShort},
      {"status command cut to 13",   true,  {Fault::PayloadLength(set, 13)},   setStatus,                                                         V_E_FAILED,            kShort},
      {"status command cut to 14",   true,  {Fault::PayloadLength(set, 14)},   [](HVBlueFin h) { return BlueFinSetStatus(h, 0); },                V_OK,                  nullptr},
      {"status not taken",           true,  {Fault::WrongStatusEcho(set, 0)},  setStatus,                                                         V_E_FAILED,            kNotChanged},
      // Only the low byte travels: the scanner's 0 is no 256.
      {"status above a byte",        true,  {},                                [](HVBlueFin h) { return BlueFinSetStatus(h, 256); },              V_E_FAILED,            kNotChanged},
      // clang-format on
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.szCase);
    Close();
    emulator->ForceKey(kDefaultKey);
    if (c.secure) {
      OpenSecure();
    } else {
      ASSERT_EQ(Open(), V_OK);
    }
    const Key before = c.secure ? kSessionKey : kDefaultKey;
    Inject(c.faults);
    const std::size_t sent = Codes().size();
    const VResult result = c.call(device);
    EXPECT_TRUE(Gave(result, c.code, c.szMessage));
    const bool refused = c.code == V_E_INVALID_OPERATION || c.code == V_E_ARGUMENT;
    EXPECT_EQ(Codes().size(), sent + (refused ? 0 : 1));
    EXPECT_EQ(out, 7u);
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(IsSecure(), c.secure);
    // A cut answer does not undo the scanner's own switch.
    emulator->ForceKey(before);
    EXPECT_EQ(KeyOfNextCommand(), before);
  }
}

// A session key is the platform's cryptographic random source's draw, as
// drawn, and a fresh one at each call: never a sequence of the C library's
// or one seeded from the clock, which another process could repeat.
TEST_F(DeviceTest, RandomKeysAreFreshDrawsOfTheSecureSource) {
  ASSERT_EQ(Open(), V_OK);
  for (std::size_t i = 1; i <= 2; ++i) {
    ASSERT_EQ(BlueFinSetRandomKey(device), V_OK);
    const std::vector<Bytes> draws = Moved("secureRandom");
    ASSERT_EQ(draws.size(), i);
    ASSERT_EQ(draws.back().size(), Key{}.size());
    Key drawn;
    std::copy(draws.back().begin(), draws.back().end(), drawn.begin());
    EXPECT_EQ(emulator->CurrentKey(), drawn);
    EXPECT_EQ(KeyOfNextCommand(), drawn);
  }
  EXPECT_NE(Moved("secureRandom")[0], Moved("secureRandom")[1]);
  const Key last = emulator->CurrentKey();
  Seam().Script("secureRandom", Fails(5, L"   at getrandom\r\n"));
  EXPECT_EQ(BlueFinSetRandomKey(device), V_E_WIN32);
  vdm::test::ExpectPlatformError(5, L"   at getrandom\r\n");
  EXPECT_EQ(KeyOfNextCommand(), last);
  EXPECT_EQ(Codes(), (std::vector<int>{0x01, 0x05, 0x03, 0x05, 0x03, 0x03}));
}

TEST(ScannerApi, NullArgumentsAreRefusedByName) {
  HVObject h = reinterpret_cast<HVObject>(&h);  // never reached: an earlier argument is null
  VUInt8 key[32] = {};
  const std::pair<std::function<VResult()>, const wchar_t *> cases[] = {
      // clang-format off
      {[]  { return BlueFinCreate(nullptr, nullptr); },                                           L"hBluetoothDevice"},
      {[&] { return BlueFinCreate(h, nullptr); },                                                 L"phBlueFin"},
      {[]  { return BlueFinEcho(nullptr); },                                                      L"hBlueFin"},
      {[]  { return BlueFinDispose(nullptr); },                                                   L"hObject"},
      {[]  { return BlueFinGetName(nullptr, nullptr); },                                          L"hBlueFin"},
      {[]  { return BlueFinGetAddress(nullptr, nullptr); },                                       L"hBlueFin"},
      {[]  { return BlueFinSetProgressCallback(nullptr, nullptr, nullptr); },                     L"hBlueFin"},
      {[]  { return BlueFinDeviceTypeOf(nullptr); },                                              L"phType"},
      {[]  { return BlueFinDeviceTypeInit(nullptr); },                                            L"ppType"},
      {[]  { return BlueFinGetDeviceInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); }, L"hBlueFin"},
      {[]  { return BlueFinGetStatus(nullptr, nullptr, nullptr, nullptr, nullptr); },             L"hBlueFin"},
      {[]  { return BlueFinSetStatus(nullptr, 0); },                                              L"hBlueFin"},
      {[&] { return BlueFinSetKey(nullptr, key, 32); },                                           L"hBlueFin"},
      {[&] { return BlueFinSetKey(h, nullptr, 16); },                                             L"pKey"},
      {[]  { return BlueFinSetRandomKey(nullptr); },                                              L"hBlueFin"},
      {[]  { return BlueFinRestoreDefaultKey(nullptr); },                                         L"hBlueFin"},
      {[]  { return BlueFinCreateImage(nullptr); },                                               L"phImage"},
      {[]  { return BlueFinGetImage(nullptr, nullptr); },                                         L"hBlueFin"},
      {[&] { return BlueFinGetImage(h, nullptr); },                                               L"phImage"},
      {[&] { return BlueFinSendCommand(nullptr, key, 1); },                                       L"hBlueFin"},
      {[&] { return BlueFinSendCommand(h, nullptr, 1); },                                         L"pCmd"},
      // clang-format on
  };
  for (const auto &[call, parameter] : cases) {
    EXPECT_TRUE(Gave(call(), V_E_ARGUMENT_NULL, (std::wstring(parameter) + L" is NULL").c_str(), parameter))
        << vfw::ToUtf8(parameter);
  }
}

}  // namespace
}  // namespace vdm::bluefin::test
