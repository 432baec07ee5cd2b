// Lists in caller storage: plain and handle lists.
#include <cstdint>
#include <functional>

#include "framework_test.h"

namespace {

using ListsTest = FrameworkTest;

std::vector<void *> Elements(const VList &list) {
  void **start = nullptr;
  void **end = nullptr;
  EXPECT_EQ(V_OK, VListGetStart(&list, sizeof(void *), 0, &start));
  EXPECT_EQ(V_OK, VListGetEnd(&list, sizeof(void *), 0, &end));
  return start == nullptr ? std::vector<void *>() : std::vector<void *>(start, end);
}

void *Entry(std::uintptr_t n) {
  return reinterpret_cast<void *>(n);
}

TEST_F(ListsTest, PointerListAddsGrowsAndRemovesInOrder) {
  VList list{};
  ASSERT_EQ(V_OK, VListInit(&list, sizeof(void *), 0));
  EXPECT_TRUE(Elements(list).empty()) << "an empty list has null bounds";
  std::vector<void *> expected;
  for (std::uintptr_t n = 1; n <= 100; ++n) {
    void *entry = Entry(n);
    ASSERT_EQ(V_OK, VListAdd(&list, 0, &entry, sizeof entry));
    expected.push_back(entry);
  }
  EXPECT_EQ(expected, Elements(list));

  for (std::uintptr_t n : {50u, 1u, 100u}) {
    void *entry = Entry(n);
    ASSERT_EQ(V_OK, VListRemove(&list, 0, &entry, sizeof entry, 0));
    expected.erase(std::find(expected.begin(), expected.end(), entry));
  }
  EXPECT_EQ(expected, Elements(list));
  VInt32 count = 0;
  ASSERT_EQ(V_OK, VListGetCount(&list, &count));
  EXPECT_EQ(97, count);
  void *absent = Entry(50);
  EXPECT_EQ(V_E_ARGUMENT, VListRemove(&list, 0, &absent, sizeof absent, 0));
  EXPECT_EQ(V_OK, VListDispose(&list));
  EXPECT_EQ(V_OK, VListDispose(&list)) << "disposing twice is harmless";
}

TEST_F(ListsTest, MisuseIsRefused) {
  VList uninitialised{};
  VList list{};
  ASSERT_EQ(V_OK, VListInit(&list, sizeof(void *), 0));
  void *entry = Entry(1);
  void *bound = nullptr;
  struct Row {
    const char *what;
    VResult expected;
    std::function<VResult()> call;
  };
  HVObject *const handleEntry = reinterpret_cast<HVObject *>(&entry);
  const Row rows[] = {
      // clang-format off
      {"add of a wrong size",          V_E_ARGUMENT,              [&] { return VListAdd(&list, 0, &entry, 2); }},
      {"start of a wrong size",        V_E_ARGUMENT,              [&] { return VListGetStart(&list, 8 + sizeof(void *), 0, &bound); }},
      {"remove of a wrong size",       V_E_ARGUMENT,              [&] { return VListRemove(&list, 0, &entry, 1, 0); }},
      {"handle add to a plain list",   V_E_INVALID_OPERATION,     [&] { return VListAddP(&list, VObjectTypeOf, handleEntry, sizeof entry); }},
      {"add to an uninitialised list", V_E_INVALID_OPERATION,     [&] { return VListAdd(&uninitialised, 0, &entry, sizeof entry); }},
      {"end of an uninitialised list", V_E_INVALID_OPERATION,     [&] { return VListGetEnd(&uninitialised, sizeof(void *), 0, &bound); }},
      {"zero element size",            V_E_ARGUMENT_OUT_OF_RANGE, [&] { return VListInit(&uninitialised, 0, 0); }},
      // clang-format on
  };
  for (const Row &row : rows) {
    EXPECT_EQ(row.expected, row.call()) << row.what;
  }
  EXPECT_EQ(V_OK, VListDispose(&uninitialised));
  EXPECT_EQ(V_OK, VListDispose(&list));
}

TEST_F(ListsTest, HandleListHoldsReferencesAndDetachesThem) {
  VList list{};
  ASSERT_EQ(V_OK, VListInitP(&list, 0, VStringTypeOf));
  const VInt64 live = VTestGetLiveObjectCount();
  for (const wchar_t *text : {L"first", L"second"}) {
    vfw::Handle string = vfw::MakeString(text);
    HVObject handle = string.get();
    ASSERT_EQ(V_OK, VListAddP(&list, VStringTypeOf, &handle, sizeof handle));
  }
  EXPECT_EQ(live + 2, VTestGetLiveObjectCount()) << "the list keeps the strings alive";

  vfw::Handle event;
  ASSERT_EQ(V_OK, VSyncEventCreate(V_TRUE, V_FALSE, event.put()));
  HVObject wrongType = event.get();
  EXPECT_EQ(V_E_ARGUMENT, VListAddP(&list, VStringTypeOf, &wrongType, sizeof wrongType));
  event.reset();

  HVObject *array = nullptr;
  VInt32 count = 0;
  ASSERT_EQ(V_OK, VListDetachArrayP(&list, 0, VStringTypeOf, &array, &count));
  ASSERT_EQ(2, count);
  EXPECT_EQ(L"second", vfw::ToWString(array[1]));
  VInt32 left = -1;
  ASSERT_EQ(V_OK, VListGetCount(&list, &left));
  EXPECT_EQ(0, left);
  EXPECT_EQ(V_OK, VObjectFreeArray(array, count));
  EXPECT_EQ(live, VTestGetLiveObjectCount());
  EXPECT_EQ(V_OK, VListDispose(&list));
}

}  // namespace
