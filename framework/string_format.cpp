// VStringFormatW: the host's small placeholder language.
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>

#include "calls.h"
#include "string_objects.h"

namespace vfw::detail {
namespace {

VResult BadFormat(const wchar_t *why) {
  return SetLastError(V_E_ARGUMENT, why, L"szFormat");
}

// Expands the placeholders of format with the arguments; each placeholder takes the next one.
VResult Format(const wchar_t *format, va_list args, std::wstring *out) {
  std::wstring text;
  for (const wchar_t *p = format; *p != L'\0'; ++p) {
    if (*p == L'}') {
      if (p[1] != L'}') {
        return BadFormat(L"A single \"}\" in the format");
      }
      text.push_back(L'}');
      ++p;
      continue;
    }
    if (*p != L'{') {
      text.push_back(*p);
      continue;
    }
    if (p[1] == L'{') {
      text.push_back(L'{');
      ++p;
      continue;
    }
    const wchar_t *close = std::wcschr(p, L'}');
    if (close == nullptr) {
      return BadFormat(L"A placeholder in the format is not closed");
    }
    const std::wstring_view name(p + 1, static_cast<std::size_t>(close - p - 1));
    if (name == L"S") {
      const wchar_t *value = va_arg(args, const wchar_t *);
      text += value != nullptr ? value : L"";
    } else if (name == L"AS") {
      const char *value = va_arg(args, const char *);
      if (value != nullptr) {
        text += WidenLatin1(value);
      }
    } else if (name == L"I") {
      text += std::to_wstring(va_arg(args, VInt32));
    } else if (name == L"I:H8") {
      wchar_t digits[9];
      std::swprintf(digits, 9, L"%08X", static_cast<unsigned>(static_cast<VUInt32>(va_arg(args, VInt32))));
      text += digits;
    } else {
      return BadFormat(L"Unknown placeholder in the format");
    }
    p = close;
  }
  *out = std::move(text);
  return V_OK;
}

}  // namespace
}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult VStringFormatW(HVString *phString, const wchar_t *szFormat, ...) {
  va_list args;
  va_start(args, szFormat);
  const VResult result = Counted(__func__, [&] {
    if (phString == nullptr) {
      return ArgumentNull(L"phString");
    }
    if (szFormat == nullptr) {
      return ArgumentNull(L"szFormat");
    }
    std::wstring text;
    VResult formatted = Format(szFormat, args, &text);
    if (VFailed(formatted)) {
      return formatted;
    }
    *phString = NewString(std::move(text));
    return V_OK;
  });
  va_end(args);
  return result;
}
