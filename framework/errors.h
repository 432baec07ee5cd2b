// The calling thread's last error, as the framework's own code records and reads it.
#ifndef VFW_ERRORS_H
#define VFW_ERRORS_H

#include <optional>
#include <string>

#include "v_core.h"

namespace vfw::detail {

struct ErrorState {
  VResult code = 0;
  VInt32 platformCode = 0;
  std::optional<std::wstring> message;
  std::optional<std::wstring> parameterName;
  std::optional<std::wstring> callStack;
};

// Each records the thread's last error and returns code. They never throw: when the texts cannot
// be stored for lack of memory, the code alone is recorded.
VResult SetLastError(VResult code, const wchar_t *message = nullptr,
                     const wchar_t *parameterName = nullptr) noexcept;
VResult SetLastError(ErrorState state) noexcept;
VResult SetLastError(VResult code, const std::wstring &message,
                     const wchar_t *parameterName = nullptr) noexcept;
// "<name> is NULL" with the parameter name, code V_E_ARGUMENT_NULL.
VResult ArgumentNull(const wchar_t *parameterName) noexcept;
VResult ReportOutOfMemory() noexcept;
VResult ReportUnexpected() noexcept;

void ClearLastError() noexcept;
// The thread's last error, or null; valid until the thread records or clears another one.
const ErrorState *PeekLastError() noexcept;
std::optional<ErrorState> SaveLastError() noexcept;
void RestoreLastError(std::optional<ErrorState> saved) noexcept;

// Narrow host texts are Latin-1: each byte is one character.
std::wstring WidenLatin1(const char *text, std::size_t length);
std::wstring WidenLatin1(const char *text);
std::string NarrowForOutput(const std::wstring &text);

}  // namespace vfw::detail

#endif  // VFW_ERRORS_H
