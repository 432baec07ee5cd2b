// The 32-bit host reads the module's records at fixed byte offsets, not
// through the module's declarations. These helpers read the descriptors and
// instances the same way, at run time, where static_asserts check at
// compile time.
#ifndef VDM_TESTS_HOST_LAYOUT_32BIT_H
#define VDM_TESTS_HOST_LAYOUT_32BIT_H

#include <gtest/gtest.h>
#include <v_core.h>

#include <cstdint>
#include <cstring>
#include <set>

#include "support/object_types.h"

namespace vdm::test {

static_assert(sizeof(void *) == 4, "the host's offsets are those of its 32-bit platform");

// The value of type T that starts at a byte offset of a record.
template <typename T>
T At(const void *record, std::size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char *>(record) + offset, sizeof(value));
  return value;
}

// A function or object address as the 4 bytes a record holds.
template <typename P>
std::uint32_t AddressOf(P pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

inline constexpr std::size_t kBaseObjectSize = 36;
inline constexpr std::size_t kDescriptorSize = 384;

struct DescribedType {
  const wchar_t *szName;
  std::uint32_t instanceSize;
  VObjectDisposeProc pDispose;
  VObjectCompareProc pCompare;  // null for a type without one
};

// Stands for the module's export as the descriptors' owning module: the
// layers' tests run without the module.
inline VResult V_CALL OwnerModuleOf(HVModule *) {
  return V_OK;
}

// Runs a type's descriptor callback as VTypeRegister does and reads the
// record it fills: each value at its offset, and zero everywhere else.
inline void ExpectDescriptor(VTypeInitProc pInit, const DescribedType &type) {
  vdm::SetOwningModule(OwnerModuleOf);
  SCOPED_TRACE(::testing::Message() << "descriptor of "
                                    << ::testing::PrintToString(std::wstring(type.szName)));
  VTypeDescriptor *pDescriptor = nullptr;
  const VResult made = pInit(&pDescriptor);
  vdm::SetOwningModule(nullptr);
  ASSERT_EQ(made, V_OK);
  ASSERT_NE(pDescriptor, nullptr);
  const void *record = pDescriptor;
  const std::uint32_t kExpected[][2] = {
      {56, AddressOf(OwnerModuleOf)},
      {60, AddressOf(VObjectTypeOf)},
      {64, kDescriptorSize},
      {68, kDescriptorSize},
      {72, 0},
      {76, kBaseObjectSize},
      {80, type.instanceSize},
      {84, 1},
      {92, 0x8000},
      {184, 0},
      {252, AddressOf(type.pDispose)},
      {276, AddressOf(type.pCompare)},
  };
  std::set<std::size_t> named = {88, 100};
  for (const auto &[offset, value] : kExpected) {
    EXPECT_EQ(At<std::uint32_t>(record, offset), value) << "at offset " << offset;
    named.insert(offset);
  }
  EXPECT_EQ(At<std::uint32_t>(record, 88) & 0x60u, 0x60u) << "flags at offset 88";
  const auto *szName = At<const wchar_t *>(record, 100);
  ASSERT_NE(szName, nullptr);
  EXPECT_EQ(std::wstring(szName), type.szName);
  for (std::size_t offset = 0; offset < kDescriptorSize; offset += 4) {
    if (named.count(offset) == 0) {
      EXPECT_EQ(At<std::uint32_t>(record, offset), 0u) << "at offset " << offset;
    }
  }
  VFree(pDescriptor);
}

}  // namespace vdm::test

#endif  // VDM_TESTS_HOST_LAYOUT_32BIT_H
