#include "support/errors.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

namespace vdm {

// Built in a fixed buffer: nothing here may throw into a C caller. A name
// too long for it (none of ours is) is cut, never overrun.
VResult ArgumentNull(const wchar_t *szParameterName) {
  constexpr wchar_t kSuffix[] = L" is NULL";
  constexpr std::size_t kSuffixLength = std::size(kSuffix) - 1;
  wchar_t message[64];
  const std::size_t length = std::min(std::wcslen(szParameterName), std::size(message) - kSuffixLength - 1);
  std::wmemcpy(message, szParameterName, length);
  std::wmemcpy(message + length, kSuffix, kSuffixLength + 1);
  return Fail(V_E_ARGUMENT_NULL, message, szParameterName);
}

}  // namespace vdm
