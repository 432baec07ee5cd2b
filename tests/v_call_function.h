// VCallFunction<Proc>(lambda): a Proc of the host's calling convention
// (V_CALL) that runs a lambda without captures. The lambda itself converts
// only to a plain function pointer, cdecl on 32-bit Windows, which leaves
// the stack unbalanced where a stdcall one is called.
#ifndef VDM_TESTS_V_CALL_FUNCTION_H
#define VDM_TESTS_V_CALL_FUNCTION_H

#include <v_types.h>

#include <type_traits>
#include <utility>

namespace vdm::test {

template <typename Proc>
struct VCallAdapter;

template <typename Result, typename... Args>
struct VCallAdapter<Result(V_CALL *)(Args...)> {
  template <typename Lambda>
  static Result V_CALL Call(Args... args) {
    return Lambda{}(std::forward<Args>(args)...);
  }
};

template <typename Proc, typename Lambda>
Proc VCallFunction(Lambda) {
  static_assert(std::is_empty_v<Lambda> && std::is_default_constructible_v<Lambda>,
                "only a lambda without captures has no state to carry into the function");
  return &VCallAdapter<Proc>::template Call<Lambda>;
}

}  // namespace vdm::test

#endif  // VDM_TESTS_V_CALL_FUNCTION_H
