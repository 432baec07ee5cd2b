// Sync events, waits, monitors and the sleep hook.
#include <thread>
#include <vector>

#include "framework_test.h"
#include "tests/v_call_function.h"

namespace {

using SyncTest = FrameworkTest;

VBool Poll(HVObject event) {
  VBool signalled = 2;
  EXPECT_EQ(V_OK, VWaitObjectWaitForTimed(event, 0, &signalled));
  return signalled;
}

TEST_F(SyncTest, EventsSignalResetAndConsumeAsTheirModeSays) {
  struct Row {
    VBool manual, initial;
    std::vector<VBool> polls;  // initial state polled twice, then after set twice, then after set+reset
  };
  const Row rows[] = {
      // clang-format off
      {V_TRUE,  V_TRUE,  {1, 1, 1, 1, 0}},
      {V_TRUE,  V_FALSE, {0, 0, 1, 1, 0}},
      {V_FALSE, V_TRUE,  {1, 0, 1, 0, 0}},
      {V_FALSE, V_FALSE, {0, 0, 1, 0, 0}},
      // clang-format on
  };
  for (const Row &row : rows) {
    vfw::Handle event;
    ASSERT_EQ(V_OK, VSyncEventCreate(row.manual, row.initial, event.put()));
    std::vector<VBool> polls;
    polls.push_back(Poll(event.get()));
    polls.push_back(Poll(event.get()));
    ASSERT_EQ(V_OK, VSyncEventSet(event.get()));
    polls.push_back(Poll(event.get()));
    polls.push_back(Poll(event.get()));
    ASSERT_EQ(V_OK, VSyncEventSet(event.get()));
    ASSERT_EQ(V_OK, VObjectReset(event.get()));
    polls.push_back(Poll(event.get()));
    EXPECT_EQ(row.polls, polls) << "manual " << row.manual << ", initial " << row.initial;
  }
}

TEST_F(SyncTest, ParkedWaiterIsSeenAndWokenBySet) {
  HVSyncEvent event = nullptr;
  ASSERT_EQ(V_OK, VSyncEventCreate(V_FALSE, V_FALSE, &event));
  const VInt64 parked = VTestGetBlockedWaitCount();
  std::thread waiter([event] {
    EXPECT_EQ(V_OK, VWaitObjectWaitFor(event));
    // The woken waiter drops the last reference at once; the setter must be done with the event.
    EXPECT_EQ(V_OK, VObjectUnref(event));
  });
  while (VTestGetBlockedWaitCount() == parked) {
    std::this_thread::yield();
  }
  ASSERT_EQ(V_OK, VSyncEventSet(event));
  waiter.join();
  EXPECT_EQ(parked, VTestGetBlockedWaitCount());
}

TEST_F(SyncTest, MonitorIsRecursiveAndExcludesOtherThreads) {
  VMonitor monitor{};
  ASSERT_EQ(V_OK, VMonitorInit(&monitor));
  EXPECT_EQ(monitors_ + 1, VTestGetLiveMonitorCount());
  VMonitorEnter(&monitor);
  VMonitorEnter(&monitor);  // a second enter on the same thread must not deadlock
  VMonitorExit(&monitor);
  VMonitorExit(&monitor);

  int counter = 0;  // deliberately plain: the monitor is its only guard
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        VMonitorEnter(&monitor);
        VMonitorEnter(&monitor);
        ++counter;
        VMonitorExit(&monitor);
        VMonitorExit(&monitor);
      }
    });
  }
  for (std::thread &thread : threads) {
    thread.join();
  }
  EXPECT_EQ(4000, counter);
  EXPECT_EQ(V_OK, VMonitorDispose(&monitor));
  EXPECT_EQ(V_OK, VMonitorDispose(&monitor)) << "disposing twice is harmless";
}

TEST_F(SyncTest, SleepHookStandsInForSleeping) {
  std::vector<VInt32> slept;
  VTestSetSleepHook(vdm::test::VCallFunction<VTestSleepHook>([](VInt32 ms, void *context) {
                      static_cast<std::vector<VInt32> *>(context)->push_back(ms);
                    }),
                    &slept);
  VThreadSleep(2000);
  VThreadSleep(2000);
  EXPECT_EQ((std::vector<VInt32>{2000, 2000}), slept);
  VTestSetSleepHook(nullptr, nullptr);
  VThreadSleep(0);
  EXPECT_EQ(2u, slept.size());
}

}  // namespace
