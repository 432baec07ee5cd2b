#include "bluetooth/platform/emulated_link.h"

namespace {

constexpr char kPrefix[] = "bluefin/";
constexpr char kLowerDigits[] = "0123456789abcdef";

// The GUID's first three groups are stored little-endian, the last two in
// order; the text shows every group most significant byte first.
constexpr int kUuidTextOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

}  // namespace

std::string EmulatedLinkName(const std::string &addressText, const VUInt8 serviceClass[16]) {
  std::string name = kPrefix + addressText + "/";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      name += '-';
    }
    VUInt8 byte = serviceClass[kUuidTextOrder[i]];
    name += kLowerDigits[byte >> 4];
    name += kLowerDigits[byte & 0xF];
  }
  return name;
}

VUInt16 EmulatedLinkPort(const std::string &name) {
  constexpr VUInt32 kFnvOffsetBasis = 2166136261u;
  constexpr VUInt32 kFnvPrime = 16777619u;
  constexpr VUInt32 kFirstDynamicPort = 49152;
  constexpr VUInt32 kDynamicPortCount = 16384;
  VUInt32 hash = kFnvOffsetBasis;
  for (char c : name) {
    hash ^= static_cast<VUInt8>(c);
    hash *= kFnvPrime;
  }
  return static_cast<VUInt16>(kFirstDynamicPort + hash % kDynamicPortCount);
}
