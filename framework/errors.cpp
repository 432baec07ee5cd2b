// Per-thread last error and the error objects that snapshot it.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "calls.h"
#include "objects.h"
#include "string_objects.h"
#include "test_state.h"

namespace vfw::detail {
namespace {

thread_local std::optional<ErrorState> tLastError;

std::optional<std::wstring> TextOrNone(const wchar_t *text) {
  if (text == nullptr) {
    return std::nullopt;
  }
  return std::wstring(text);
}

std::optional<std::wstring> TextOrNone(const char *text) {
  if (text == nullptr) {
    return std::nullopt;
  }
  return WidenLatin1(text);
}

struct ErrorObject : ObjectHeader {
  explicit ErrorObject(ErrorState errorState) : ObjectHeader(Type()), state(std::move(errorState)) {}
  static const TypeInfo *Type() {
    static const TypeInfo *type = MakeBuiltinType<ErrorObject>(L"VError");
    return type;
  }
  ErrorState state;
};

// Hands one optional text of an error object out as a new string (null when it has none).
template <class Field>
VResult GetErrorText(HVError hError, HVString *phText, const wchar_t *outName, Field field) {
  ErrorObject *error = nullptr;
  VResult result = Unwrap(hError, L"hError", &error);
  if (VFailed(result)) {
    return result;
  }
  if (phText == nullptr) {
    return ArgumentNull(outName);
  }
  const std::optional<std::wstring> &text = error->state.*field;
  *phText = text ? NewString(*text) : nullptr;
  return V_OK;
}

}  // namespace

VResult SetLastError(ErrorState state) noexcept {
  const VResult code = state.code;
  tLastError = std::move(state);
  return code;
}

VResult SetLastError(VResult code, const wchar_t *message, const wchar_t *parameterName) noexcept {
  try {
    return SetLastError(ErrorState{code, 0, TextOrNone(message), TextOrNone(parameterName), std::nullopt});
  } catch (const std::bad_alloc &) {
    return SetLastError(ErrorState{code, 0, std::nullopt, std::nullopt, std::nullopt});
  }
}

VResult SetLastError(VResult code, const std::wstring &message, const wchar_t *parameterName) noexcept {
  return SetLastError(code, message.c_str(), parameterName);
}

VResult ArgumentNull(const wchar_t *parameterName) noexcept {
  try {
    return SetLastError(V_E_ARGUMENT_NULL, std::wstring(parameterName) + L" is NULL", parameterName);
  } catch (const std::bad_alloc &) {
    return SetLastError(V_E_ARGUMENT_NULL, nullptr, nullptr);
  }
}

VResult ReportOutOfMemory() noexcept {
  return SetLastError(V_E_OUT_OF_MEMORY, nullptr, nullptr);
}

VResult ReportUnexpected() noexcept {
  return SetLastError(V_E_FAILED, L"Unexpected failure inside the framework");
}

void ClearLastError() noexcept {
  tLastError.reset();
}

const ErrorState *PeekLastError() noexcept {
  return tLastError ? &*tLastError : nullptr;
}

std::optional<ErrorState> SaveLastError() noexcept {
  try {
    return tLastError;
  } catch (const std::bad_alloc &) {
    return ErrorState{tLastError->code, tLastError->platformCode, std::nullopt, std::nullopt, std::nullopt};
  }
}

void RestoreLastError(std::optional<ErrorState> saved) noexcept {
  tLastError = std::move(saved);
}

std::wstring WidenLatin1(const char *text, std::size_t length) {
  std::wstring wide(length, L'\0');
  for (std::size_t i = 0; i < length; ++i) {
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
  }
  return wide;
}

std::wstring WidenLatin1(const char *text) {
  return WidenLatin1(text, std::strlen(text));
}

std::string NarrowForOutput(const std::wstring &text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (wchar_t c : text) {
    narrow.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : (c == L'\r' || c == L'\n' ? ' ' : '?'));
  }
  return narrow;
}

}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult V_CALL VErrorSetLastW(VResult code, const wchar_t *szMessage, const wchar_t *szParameterName,
                                    const wchar_t *szExternalCallStack, HVError, HVObject) {
  try {
    return SetLastError(ErrorState{code, 0, TextOrNone(szMessage), TextOrNone(szParameterName),
                                   TextOrNone(szExternalCallStack)});
  } catch (const std::bad_alloc &) {
    return SetLastError(code, nullptr, nullptr);
  }
}

V_API VResult V_CALL VErrorSetLastMPNA(VResult code, const char *szMessage, const char *szParameterName,
                                       const char *szExternalCallStack, HVError, HVObject) {
  try {
    return SetLastError(ErrorState{code, 0, TextOrNone(szMessage), TextOrNone(szParameterName),
                                   TextOrNone(szExternalCallStack)});
  } catch (const std::bad_alloc &) {
    return SetLastError(code, nullptr, nullptr);
  }
}

V_API VResult V_CALL VErrorSetWin32W(VInt32 code, const wchar_t *szMessage, const wchar_t *szParameterName,
                                     const wchar_t *szExternalCallStack, VBool) {
  try {
    ErrorState state{V_E_WIN32, code, TextOrNone(szMessage), TextOrNone(szParameterName),
                     TextOrNone(szExternalCallStack)};
    if (!state.message) {
      // The platform's own text for its code; system_category is thread-safe where strerror is not.
      state.message = WidenLatin1(std::system_category().message(code).c_str());
    }
    return SetLastError(std::move(state));
  } catch (const std::bad_alloc &) {
    return SetLastError(ErrorState{V_E_WIN32, code, std::nullopt, std::nullopt, std::nullopt});
  }
}

V_API void V_CALL VErrorClearLast(void) {
  ClearLastError();
}

V_API VResult V_CALL VErrorTypeOf(HVType *phType) {
  return Counted(__func__, [&] { return HandOutType(ErrorObject::Type(), phType); });
}

V_API VResult V_CALL VErrorGetLastEx(VUInt32, HVError *phError) {
  return Counted(__func__, [&] {
    if (phError == nullptr) {
      return ArgumentNull(L"phError");
    }
    *phError = tLastError ? ToHandle(NewObject<ErrorObject>(*tLastError)) : nullptr;
    return V_OK;
  });
}

V_API VResult V_CALL VErrorSetLastEx(HVError hError, VUInt32) {
  return Counted(__func__, [&] {
    if (hError == nullptr) {
      ClearLastError();
      return V_OK;
    }
    ErrorObject *error = nullptr;
    VResult result = Unwrap(hError, L"hError", &error);
    if (VFailed(result)) {
      return result;
    }
    tLastError = error->state;
    return V_OK;
  });
}

V_API VResult V_CALL VErrorSuppress(VResult code) {
  return Counted(__func__, [&] {
    if (tLastError && tLastError->code == code) {
      ClearLastError();
    }
    return V_OK;
  });
}

V_API VResult V_CALL VErrorReport(VResult code) {
  return Counted(__func__, [&] {
    const ErrorState *last = PeekLastError();
    std::string message = last != nullptr && last->message ? NarrowForOutput(*last->message) : std::string();
    std::fprintf(stderr, "Error reported: code %d%s%s\n", static_cast<int>(code), message.empty() ? "" : ": ",
                 message.c_str());
    NoteErrorReported();
    return V_OK;
  });
}

V_API VResult V_CALL VErrorGetCode(HVError hError, VResult *pCode) {
  return Shielded([&] {
    ErrorObject *error = nullptr;
    VResult result = Unwrap(hError, L"hError", &error);
    if (VFailed(result)) {
      return result;
    }
    if (pCode == nullptr) {
      return ArgumentNull(L"pCode");
    }
    *pCode = error->state.code;
    return V_OK;
  });
}

V_API VResult V_CALL VErrorGetPlatformCode(HVError hError, VInt32 *pPlatformCode) {
  return Shielded([&] {
    ErrorObject *error = nullptr;
    VResult result = Unwrap(hError, L"hError", &error);
    if (VFailed(result)) {
      return result;
    }
    if (pPlatformCode == nullptr) {
      return ArgumentNull(L"pPlatformCode");
    }
    *pPlatformCode = error->state.platformCode;
    return V_OK;
  });
}

V_API VResult V_CALL VErrorGetMessageW(HVError hError, HVString *phMessage) {
  return Shielded([&] { return GetErrorText(hError, phMessage, L"phMessage", &ErrorState::message); });
}

V_API VResult V_CALL VErrorGetParameterNameW(HVError hError, HVString *phName) {
  return Shielded([&] { return GetErrorText(hError, phName, L"phName", &ErrorState::parameterName); });
}

V_API VResult V_CALL VErrorGetExternalCallStackW(HVError hError, HVString *phCallStack) {
  return Shielded([&] { return GetErrorText(hError, phCallStack, L"phCallStack", &ErrorState::callStack); });
}
