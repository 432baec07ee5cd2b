// Counts of everything the host stand-in hands out, to compare before and
// after: a module that leaves one object behind shows here.
#ifndef VDM_TESTS_HOST_FOOTPRINT_H
#define VDM_TESTS_HOST_FOOTPRINT_H

#include <ostream>

#include "framework/v_test_controls.h"

namespace vdm::test {

struct HostFootprint {
  VInt64 objects = VTestGetLiveObjectCount();
  VInt64 allocations = VTestGetOutstandingAllocationCount();
  VInt64 monitors = VTestGetLiveMonitorCount();
  VInt64 events = VTestGetLiveEventCount();
  bool operator==(const HostFootprint &) const = default;
};

inline std::ostream &operator<<(std::ostream &out, const HostFootprint &f) {
  return out << "{objects " << f.objects << ", allocations " << f.allocations << ", monitors " << f.monitors
             << ", events " << f.events << "}";
}

}  // namespace vdm::test

#endif  // VDM_TESTS_HOST_FOOTPRINT_H
