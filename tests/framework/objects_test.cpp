// Object lifetime, the dispose chain and type registration. Instance checks, equality and handle
// arrays are exercised by the Bluetooth and BlueFin device types' own tests.
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "framework/v_builtin_types.h"
#include "framework_test.h"
#include "tests/v_call_function.h"

namespace {

struct Base {
  VObjectBase header;
  VInt32 id;
};
struct Leaf {
  Base base;
  VInt32 extra;
};

std::vector<std::string> gDisposed;
VResult gBaseDisposeResult = V_OK;
VResult gLeafDisposeResult = V_OK;

VResult V_CALL BaseDispose(HVObject) {
  gDisposed.push_back("base");
  return VFailed(gBaseDisposeResult)
             ? VErrorSetLastW(gBaseDisposeResult, L"base", nullptr, nullptr, nullptr, nullptr)
             : V_OK;
}
VResult V_CALL LeafDispose(HVObject) {
  gDisposed.push_back("leaf");
  return VFailed(gLeafDisposeResult)
             ? VErrorSetLastW(gLeafDisposeResult, L"leaf", nullptr, nullptr, nullptr, nullptr)
             : V_OK;
}
VTypeDescriptor *NewDescriptor(const wchar_t *name, VTypeOfProc baseTypeOf, std::size_t baseSize,
                               std::size_t size) {
  VTypeDescriptor *d = nullptr;
  if (VFailed(VCAlloc(sizeof *d, reinterpret_cast<void **>(&d)))) {
    return nullptr;
  }
  d->pBaseTypeOf = baseTypeOf;
  d->descriptorSize = d->descriptorSize2 = sizeof(VTypeDescriptor);
  d->baseInstanceSize = static_cast<VInt32>(baseSize);
  d->instanceSize = static_cast<VInt32>(size);
  d->field84 = V_TYPE_FIELD84;
  d->flags = V_TYPE_FLAGS_OBJECT;
  d->field92 = V_TYPE_FIELD92;
  d->szName = name;
  return d;
}

HVType gBaseType = nullptr;
HVType gLeafType = nullptr;

VResult V_CALL BaseInit(VTypeDescriptor **pp) {
  *pp = NewDescriptor(L"TestBase", VObjectTypeOf, sizeof(VObjectBase), sizeof(Base));
  (*pp)->pDispose = BaseDispose;
  return V_OK;
}
VResult V_CALL BaseTypeOf(HVType *ph) {
  VResult result = VTypeRegister(BaseInit, &gBaseType);
  return VFailed(result) ? result : VObjectGet(gBaseType, ph);
}
VResult V_CALL LeafInit(VTypeDescriptor **pp) {
  *pp = NewDescriptor(L"TestLeaf", BaseTypeOf, sizeof(Base), sizeof(Leaf));
  (*pp)->pDispose = LeafDispose;
  return V_OK;
}
VResult V_CALL LeafTypeOf(HVType *ph) {
  VResult result = VTypeRegister(LeafInit, &gLeafType);
  return VFailed(result) ? result : VObjectGet(gLeafType, ph);
}

class ObjectsTest : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    gDisposed.clear();
    gBaseDisposeResult = gLeafDisposeResult = V_OK;
  }
};

// A failing dispose neither stops the chain nor keeps the memory; the first failure is returned.
TEST_F(ObjectsTest, LastReleaseDisposesMostDerivedFirstAndFrees) {
  struct Row {
    VResult leaf, base, expected;
  };
  for (const Row &row : {Row{V_OK, V_OK, V_OK}, Row{-7, V_OK, -7}, Row{V_OK, -14, -14}, Row{-7, -14, -7}}) {
    gDisposed.clear();
    gLeafDisposeResult = row.leaf;
    gBaseDisposeResult = row.base;
    const VInt64 live = VTestGetLiveObjectCount();
    HVObject leaf = nullptr;
    ASSERT_EQ(V_OK, VTypeAllocInstanceP(LeafTypeOf, &leaf));
    EXPECT_EQ(live + 1, VTestGetLiveObjectCount()) << "types are not live objects";
    EXPECT_EQ(0, reinterpret_cast<Leaf *>(leaf)->base.id);
    EXPECT_EQ(0, reinterpret_cast<Leaf *>(leaf)->extra);
    HVObject second = nullptr;
    ASSERT_EQ(V_OK, VObjectGet(leaf, &second));
    ASSERT_EQ(V_OK, VObjectUnref(second));
    ASSERT_EQ(V_OK, VObjectSet(leaf, &leaf)) << "storing the slot's own object must keep it alive";
    EXPECT_TRUE(gDisposed.empty()) << "a reference was still held";
    EXPECT_EQ(row.expected, VObjectSet(nullptr, &leaf));
    EXPECT_EQ(nullptr, leaf);
    EXPECT_EQ((std::vector<std::string>{"leaf", "base"}), gDisposed);
    EXPECT_EQ(live, VTestGetLiveObjectCount());
  }
}

// One init proc, its descriptor spoilt by the row under test.
std::function<void(VTypeDescriptor &)> gSpoil;
VResult V_CALL SpoiltInit(VTypeDescriptor **pp) {
  *pp = NewDescriptor(L"Spoilt", VObjectTypeOf, sizeof(VObjectBase), sizeof(VObjectBase) + 8);
  gSpoil(**pp);
  return V_OK;
}

TEST_F(ObjectsTest, BadDescriptorOrFailedInitIsRefusedAndFreed) {
  const std::vector<std::function<void(VTypeDescriptor &)>> spoilers = {
      [](VTypeDescriptor &d) { d.descriptorSize = 384 + 4; },
      [](VTypeDescriptor &d) { d.descriptorSize2 = 0; },
      [](VTypeDescriptor &d) { d.baseInstanceSize = 36 - 4; },
      [](VTypeDescriptor &d) { d.instanceSize = d.baseInstanceSize - 1; },
      [](VTypeDescriptor &d) { d.flags = 0x20; },
      [](VTypeDescriptor &d) { d.field92 = 0; },
      [](VTypeDescriptor &d) { d.szName = nullptr; },
      [](VTypeDescriptor &d) { d.pBaseTypeOf = VStringTypeOf; },  // built-in types are sealed
  };
  for (std::size_t i = 0; i < spoilers.size(); ++i) {
    gSpoil = spoilers[i];
    HVType slot = nullptr;
    EXPECT_EQ(V_E_ARGUMENT, VTypeRegister(SpoiltInit, &slot)) << "row " << i;
    EXPECT_EQ(nullptr, slot);
  }
  // The fixture checks that every refused descriptor was freed.
  HVType slot = nullptr;
  const auto failingInit = vdm::test::VCallFunction<VTypeInitProc>([](VTypeDescriptor **) {
    return VErrorSetLastW(V_E_OUT_OF_MEMORY, nullptr, nullptr, nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(V_E_OUT_OF_MEMORY, VTypeRegister(failingInit, &slot)) << "an init's own failure is returned";
  EXPECT_EQ(nullptr, slot);
}

std::atomic<int> gRaceInits{0};
VResult V_CALL RaceInit(VTypeDescriptor **pp) {
  ++gRaceInits;
  *pp = NewDescriptor(L"Race", VObjectTypeOf, sizeof(VObjectBase), sizeof(VObjectBase));
  return V_OK;
}

TEST_F(ObjectsTest, TwoThreadsRegisteringOneSlotRegisterOnce) {
  for (int round = 0; round < 50; ++round) {
    gRaceInits = 0;
    HVType slot = nullptr;
    // A spinning start, not std::latch: MinGW's libstdc++ waits on atomics
    // through a shared table that can lose the wake-up, and hangs under Wine.
    std::atomic<int> arrived{0};
    VResult results[2] = {-1, -1};
    auto worker = [&](int i) {
      arrived.fetch_add(1);
      while (arrived.load() < 2) {
        std::this_thread::yield();
      }
      results[i] = VTypeRegister(RaceInit, &slot);
    };
    std::thread first(worker, 0), second(worker, 1);
    first.join();
    second.join();
    ASSERT_EQ(V_OK, results[0]);
    ASSERT_EQ(V_OK, results[1]);
    ASSERT_EQ(1, gRaceInits.load()) << "round " << round;
    ASSERT_NE(nullptr, slot);
  }
}

}  // namespace
