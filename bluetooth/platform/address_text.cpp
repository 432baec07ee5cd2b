#include "bluetooth/platform/address_text.h"

namespace vdm::platform {
namespace {

constexpr VUInt64 kLargestDeviceAddress = 0xFFFFFFFFFFFFull;
// "XX:XX:XX:XX:XX:XX"
constexpr int kAddressTextLength = 17;
constexpr int kAddressBytes = 6;

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') {
    return c - L'0';
  }
  if (c >= L'A' && c <= L'F') {
    return c - L'A' + 10;
  }
  if (c >= L'a' && c <= L'f') {
    return c - L'a' + 10;
  }
  return -1;
}

}  // namespace

TextFault AddressFromText(const wchar_t *szText, VBluetoothSocketAddress *pAddress) {
  VUInt64 value = 0;
  for (int i = 0; i < kAddressTextLength; ++i) {
    wchar_t c = szText[i];
    if (i % 3 == 2) {
      if (c != L':') {
        return TextFault::kInvalid;
      }
      continue;
    }
    int digit = HexDigit(c);
    if (digit < 0) {
      return TextFault::kInvalid;
    }
    value = value << 4 | static_cast<VUInt64>(digit);
  }
  if (szText[kAddressTextLength] != L'\0') {
    return TextFault::kInvalid;
  }
  *pAddress = VBluetoothSocketAddress{};
  pAddress->addressFamily = V_BLUETOOTH_ADDRESS_FAMILY;
  pAddress->btAddr = value;
  return TextFault::kNone;
}

TextFault AddressToText(const VBluetoothSocketAddress *pAddress, wchar_t *szText, VUInt32 *pLength) {
  VUInt64 value = pAddress->btAddr;
  if (pAddress->addressFamily != V_BLUETOOTH_ADDRESS_FAMILY || value > kLargestDeviceAddress) {
    return TextFault::kInvalid;
  }
  if (*pLength < kAddressTextLength + 1) {
    return TextFault::kNoRoom;
  }
  constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  wchar_t *p = szText;
  for (int i = kAddressBytes - 1; i >= 0; --i) {
    unsigned byte = static_cast<unsigned>(value >> (8 * i)) & 0xFFu;
    *p++ = kDigits[byte >> 4];
    *p++ = kDigits[byte & 0xFu];
    if (i != 0) {
      *p++ = L':';
    }
  }
  *p = L'\0';
  *pLength = kAddressTextLength + 1;
  return TextFault::kNone;
}

}  // namespace vdm::platform
