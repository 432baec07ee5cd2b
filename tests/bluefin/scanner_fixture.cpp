#include "scanner_fixture.h"

namespace bluefin_test {

namespace {

struct LastError {
  VResult code = 0;
  std::wstring message;
  std::wstring parameter;
};

std::wstring Take(HVString &hText) {
  const wchar_t *chars = nullptr;
  std::wstring text;
  if (hText != nullptr && VSucceeded(VStringGetBufferW(hText, nullptr, &chars)) && chars != nullptr)
    text = chars;
  VStringSet(nullptr, &hText);
  return text;
}

LastError ReadLastError() {
  LastError error;
  HVError hError = nullptr;
  if (VFailed(VErrorGetLastEx(0, &hError)) || hError == nullptr)
    return error;
  HVString hMessage = nullptr;
  HVString hParameter = nullptr;
  VErrorGetCode(hError, &error.code);
  VErrorGetMessageW(hError, &hMessage);
  VErrorGetParameterNameW(hError, &hParameter);
  error.message = Take(hMessage);
  error.parameter = Take(hParameter);
  VObjectSet(nullptr, &hError);
  return error;
}

std::string Narrow(const std::wstring &text) {
  return std::string(text.begin(), text.end());
}

}  // namespace

::testing::AssertionResult Fails(VResult result, VResult code, const std::wstring &message,
                                 const std::wstring &parameter) {
  const LastError error = ReadLastError();
  if (result == code && error.code == code && error.message == message && error.parameter == parameter) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "result " << result << ", last error " << error.code << " \"" << Narrow(error.message) << "\" ("
         << Narrow(error.parameter) << "); expected " << code << " \"" << Narrow(message) << "\" ("
         << Narrow(parameter) << ")";
}

Key TestKey(std::uint8_t seed) {
  Key key;
  for (std::size_t i = 0; i < key.size(); ++i)
    key[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
  return key;
}

void ScannerTest::SetUp() {
  objects_ = VTestGetLiveObjectCount();
  allocations_ = VTestGetOutstandingAllocationCount();
}

void ScannerTest::TearDown() {
  Close();
  peer.Join();
  EXPECT_EQ(VTestGetLiveObjectCount(), objects_) << "host objects left behind";
  EXPECT_EQ(VTestGetOutstandingAllocationCount(), allocations_) << "host memory left behind";
}

VResult ScannerTest::OpenAt(const std::string &addressText) {
  const std::wstring address(addressText.begin(), addressText.end());
  HVString hName = nullptr;
  HVString hAddress = nullptr;
  HVBluetoothDevice hBluetoothDevice = nullptr;
  VResult result = VStringCreateFromStrOrCharsW(L"Scanner", -1, &hName);
  if (VSucceeded(result))
    result = VStringCreateFromStrOrCharsW(address.c_str(), -1, &hAddress);
  if (VSucceeded(result))
    result = VBluetoothDeviceCreateFromString(hName, hAddress, &hBluetoothDevice);
  if (VSucceeded(result))
    result = BlueFinCreate(hBluetoothDevice, &device);
  VObjectSet(nullptr, &hBluetoothDevice);
  VStringSet(nullptr, &hAddress);
  VStringSet(nullptr, &hName);
  return result;
}

void ScannerTest::OpenSecure() {
  ASSERT_EQ(Open(), V_OK);
  const Key key = TestKey(1);
  ASSERT_EQ(BlueFinSetKey(device, key.data(), 32), V_OK);
}

}  // namespace bluefin_test
