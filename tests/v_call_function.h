// Turns a lambda without captures into a function of the host's calling
// convention (V_CALL), for the callback and proc types the host declares
// with it. A lambda converts only to a plain function pointer, which on
// 32-bit Windows is cdecl: handing it where a stdcall one is called leaves
// the stack unbalanced. VCallFunction<Proc>(lambda) gives a Proc that runs
// the lambda, so the compiler checks the convention.
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
