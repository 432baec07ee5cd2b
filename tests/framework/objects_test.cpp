// The framework's checks on the type descriptors and modules a module hands
// it, which the product module always gets right and so never shows.
#include <functional>

#include "framework/v_builtin_types.h"
#include "framework_test.h"
#include "tests/v_call_function.h"

namespace {

using ObjectsTest = FrameworkTest;

// One init proc: a good descriptor, spoilt by the row under test.
std::function<void(VTypeDescriptor &)> gSpoil;
VResult V_CALL SpoiltInit(VTypeDescriptor **pp) {
  VTypeDescriptor *d = nullptr;
  const VResult result = VCAlloc(sizeof *d, reinterpret_cast<void **>(&d));
  if (VFailed(result)) {
    return result;
  }
  d->pBaseTypeOf = VObjectTypeOf;
  d->descriptorSize = d->descriptorSize2 = sizeof(VTypeDescriptor);
  d->baseInstanceSize = sizeof(VObjectBase);
  d->instanceSize = sizeof(VObjectBase) + 8;
  d->field84 = V_TYPE_FIELD84;
  d->flags = V_TYPE_FLAGS_OBJECT;
  d->field92 = V_TYPE_FIELD92;
  d->szName = L"Spoilt";
  gSpoil(*d);
  *pp = d;
  return V_OK;
}

TEST_F(ObjectsTest, BadDescriptorOrFailedInitIsRefusedAndFreed) {
  const std::pair<VResult, std::function<void(VTypeDescriptor &)>> rows[] = {
      // clang-format off
      {V_OK,         [](VTypeDescriptor &) {}},
      {V_E_ARGUMENT, [](VTypeDescriptor &d) { d.descriptorSize = 384 + 4; }},
      {V_E_ARGUMENT, [](VTypeDescriptor &d) { d.descriptorSize2 = 0; }},
      {V_E_ARGUMENT, [](VTypeDescriptor &d) { d.baseInstanceSize = 36 - 4; }},
      {V_E_ARGUMENT, [](VTypeDescriptor &d) { d.instanceSize = d.baseInstanceSize - 1; }},
      {V_E_ARGUMENT, [](VTypeDescriptor &d) { d.flags = 0x20; }},
      {V_E_ARGUMENT, [](VTypeDescriptor &d) { d.field92 = 0; }},
      {V_E_ARGUMENT, [](VTypeDescriptor &d) { d.szName = nullptr; }},
      {V_E_ARGUMENT, [](VTypeDescriptor &d) { d.pBaseTypeOf = VStringTypeOf; }},  // built-in types are sealed
      // clang-format on
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    gSpoil = rows[i].second;
    HVType slot = nullptr;
    EXPECT_EQ(rows[i].first, VTypeRegister(SpoiltInit, &slot)) << "row " << i;
    EXPECT_EQ(rows[i].first == V_OK, slot != nullptr) << "row " << i;
  }
  // The fixture checks that every refused descriptor was freed.
  HVType slot = nullptr;
  const auto failingInit = vdm::test::VCallFunction<VTypeInitProc>([](VTypeDescriptor **) {
    return VErrorSetLastW(V_E_OUT_OF_MEMORY, nullptr, nullptr, nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(V_E_OUT_OF_MEMORY, VTypeRegister(failingInit, &slot)) << "an init's own failure is returned";
  EXPECT_EQ(nullptr, slot);
}

template <typename Lambda>
VModuleCreateProc Create(Lambda lambda) {
  return vdm::test::VCallFunction<VModuleCreateProc>(lambda);
}

TEST_F(ObjectsTest, FailedModuleCreateLeavesTheSlotEmptyAndNothingAlive) {
  const struct {
    const char *what;
    VModuleCreateProc create;
    VResult expected;
  } rows[] = {
      // clang-format off
      {"fails",                              Create([](HVModule *) { return VErrorSetLastW(-3, nullptr, nullptr, nullptr, nullptr, nullptr); }), -3},
      {"fails after handing out its module", Create([](HVModule *ph) { VPluginModuleCreate(ph); return VErrorSetLastW(-7, L"release failed", nullptr, nullptr, nullptr, nullptr); }), -7},
      {"gives nothing",                      Create([](HVModule *) { return V_OK; }),                                                            V_E_FAILED},
      {"gives a string",                     Create([](HVModule *ph) { return VStringCreateFromStrOrCharsW(L"not a module", -1, ph); }),        V_E_ARGUMENT},
      // clang-format on
  };
  for (const auto &row : rows) {
    HVModule slot = nullptr;
    EXPECT_EQ(row.expected, VModuleRegister(row.create, &slot)) << row.what;
    EXPECT_EQ(row.expected, vfw::GetLastError().code) << "the create's own failure stays reported";
    EXPECT_EQ(nullptr, slot) << row.what;
  }
}

}  // namespace
