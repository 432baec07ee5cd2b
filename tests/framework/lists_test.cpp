// Lists and parameter bags: what the framework refuses, and how a bag takes the
// host's properties. The module's tests show the lists' ordinary use.
#include <functional>

#include "framework_test.h"

namespace {

using ListsTest = FrameworkTest;

TEST_F(ListsTest, MisuseIsRefused) {
  VList uninitialised{}, list{}, handles{};
  ASSERT_EQ(V_OK, VListInit(&list, sizeof(void *), 0));
  ASSERT_EQ(V_OK, VListInitP(&handles, 0, VStringTypeOf));
  void *entry = nullptr;
  void *bound = nullptr;
  HVObject *const handleEntry = reinterpret_cast<HVObject *>(&entry);
  vfw::Handle event;
  ASSERT_EQ(V_OK, VSyncEventCreate(V_TRUE, V_FALSE, event.put()));
  HVObject wrongType = event.get();
  const struct {
    const char *what;
    VResult expected;
    std::function<VResult()> call;
  } rows[] = {
      // clang-format off
      {"add of a wrong size",          V_E_ARGUMENT,              [&] { return VListAdd(&list, 0, &entry, 2); }},
      {"start of a wrong size",        V_E_ARGUMENT,              [&] { return VListGetStart(&list, 8 + sizeof(void *), 0, &bound); }},
      {"remove of a wrong size",       V_E_ARGUMENT,              [&] { return VListRemove(&list, 0, &entry, 1, 0); }},
      {"remove of an absent entry",    V_E_ARGUMENT,              [&] { return VListRemove(&list, 0, &entry, sizeof entry, 0); }},
      {"handle add to a plain list",   V_E_INVALID_OPERATION,     [&] { return VListAddP(&list, VObjectTypeOf, handleEntry, sizeof entry); }},
      {"handle of another type",       V_E_ARGUMENT,              [&] { return VListAddP(&handles, VStringTypeOf, &wrongType, sizeof wrongType); }},
      {"add to an uninitialised list", V_E_INVALID_OPERATION,     [&] { return VListAdd(&uninitialised, 0, &entry, sizeof entry); }},
      {"end of an uninitialised list", V_E_INVALID_OPERATION,     [&] { return VListGetEnd(&uninitialised, sizeof(void *), 0, &bound); }},
      {"zero element size",            V_E_ARGUMENT_OUT_OF_RANGE, [&] { return VListInit(&uninitialised, 0, 0); }},
      // clang-format on
  };
  for (const auto &row : rows) {
    EXPECT_EQ(row.expected, row.call()) << row.what;
  }
  for (VList *each : {&uninitialised, &list, &handles, &list}) {
    EXPECT_EQ(V_OK, VListDispose(each)) << "disposing is harmless, once or twice";
  }
}

vfw::Handle Descriptor(const wchar_t *name) {
  vfw::Handle type, descriptor;
  VStringTypeOf(type.put());
  EXPECT_EQ(V_OK,
            VCustomParameterDescriptorCreate(vfw::MakeString(name).get(), type.get(), 0, 0, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, descriptor.put()));
  return descriptor;
}

// The module applies the host's whole property bag and asks for names it
// does not know to be skipped.
TEST_F(ListsTest, ParameterBagAppliesKnownNamesSkipsUnknownOnesAndRefusesTwins) {
  vfw::Handle descriptor = Descriptor(L"DisplayName"), other = Descriptor(L"Other");
  const HVParameterDescriptor handles[] = {descriptor.get(), other.get()};
  vfw::Handle bag, properties, value, text;
  ASSERT_EQ(V_OK, VParameterBagCreate(handles, 2, bag.put()));
  ASSERT_EQ(V_OK, VPropertyBagCreate(properties.put()));
  ASSERT_EQ(V_OK, VPropertyBagSetStringW(properties.get(), L"DisplayName", L"Desk scanner"));
  ASSERT_EQ(V_OK, VPropertyBagSetStringW(properties.get(), L"Bogus", L"x"));
  ASSERT_EQ(V_OK, VParameterBagApplyPropertyBag(bag.get(), properties.get(), V_TRUE));
  ASSERT_EQ(V_OK, VParameterBagGetW(bag.get(), L"DisplayName", value.put()));
  ASSERT_EQ(V_OK, VValueToString(value.get(), nullptr, 0, text.put()));
  EXPECT_EQ(L"Desk scanner", vfw::ToWString(text.get()));
  EXPECT_EQ(V_E_ARGUMENT, VParameterBagGetW(bag.get(), L"Bogus", value.put()));

  const HVParameterDescriptor twice[] = {descriptor.get(), descriptor.get()};
  HVParameterBag twins = nullptr;
  EXPECT_EQ(V_E_ARGUMENT, VParameterBagCreate(twice, 2, &twins));
  EXPECT_EQ(nullptr, twins);
}

}  // namespace
