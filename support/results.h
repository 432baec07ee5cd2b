// How a release's result joins the result so far. Every release of ours
// follows one of two rules, named here once:
//
// - First failure wins: a clean-up releases several things, each whatever
//   the others gave, and the caller hears of the first thing that went
//   wrong; a failing release replaces only a success. (The first failure is
//   most often the cause of the ones after it.)
// - The release's failure replaces the result: the function that built a
//   half-made object releases it on the way out, and a release that fails
//   is what the caller hears of, whatever failed before it.
#ifndef VDM_SUPPORT_RESULTS_H
#define VDM_SUPPORT_RESULTS_H

#include <v_core.h>

namespace vdm {

constexpr VResult FirstFailureWins(VResult result, VResult released) {
  return VFailed(released) && VSucceeded(result) ? released : result;
}

constexpr VResult ReleaseFailureReplaces(VResult result, VResult released) {
  return VFailed(released) ? released : result;
}

// Releases the reference in *pSlot and empties the slot; first failure
// wins.
inline VResult ReleaseInto(VResult result, HVObject *pSlot) {
  return FirstFailureWins(result, VObjectSet(nullptr, pSlot));
}

// Releases a half-made object still in *pSlot; the release's failure
// replaces the result. An empty slot (the object went to the caller, or was
// never made) is left alone: no release may fail a call that has handed its
// object out.
inline VResult ReleaseHalfMade(VResult result, HVObject *pSlot) {
  return *pSlot == nullptr ? result : ReleaseFailureReplaces(result, VObjectSet(nullptr, pSlot));
}

}  // namespace vdm

#endif  // VDM_SUPPORT_RESULTS_H
