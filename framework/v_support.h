// Small C++ helpers over the host API for tests and host programs. They go through the public
// calls, so they count as host calls for the test controls: arm failures after preparing, and
// read the last error after VTestClearFailures.
#ifndef VFW_V_SUPPORT_H
#define VFW_V_SUPPORT_H

#include <string>
#include <utility>

#include "v_core.h"

namespace vfw {

// Owns one reference to a host object.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HVObject handle) : handle_(handle) {}  // adopts the reference
  Handle(Handle &&other) noexcept : handle_(other.release()) {}
  Handle &operator=(Handle &&other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  ~Handle() { reset(); }

  HVObject get() const { return handle_; }
  // For out-parameters: releases what is held and hands out the slot.
  HVObject *put() {
    reset();
    return &handle_;
  }
  HVObject release() { return std::exchange(handle_, nullptr); }
  void reset(HVObject handle = nullptr) {
    if (handle_ != nullptr) {
      VObjectSet(nullptr, &handle_);
    }
    handle_ = handle;
  }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HVObject handle_ = nullptr;
};

// The text of a host string; empty for null or for something that is not a string.
inline std::wstring ToWString(HVString string) {
  VInt32 length = 0;
  const wchar_t *chars = nullptr;
  if (string == nullptr || VFailed(VStringGetBufferW(string, &length, &chars))) {
    return std::wstring();
  }
  return std::wstring(chars, static_cast<std::size_t>(length));
}

inline Handle MakeString(const wchar_t *text) {
  Handle string;
  VStringCreateFromStrOrCharsW(text, -1, string.put());
  return string;
}

inline std::string ToUtf8(const std::wstring &text) {
  std::string utf8;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto code = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
        const auto low = static_cast<char32_t>(text[i + 1]);
        if (low >= 0xDC00 && low < 0xE000) {
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    if (code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
      code = 0xFFFD;  // not a character: the replacement character stands in
    }
    if (code < 0x80) {
      utf8.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      utf8.push_back(static_cast<char>(0xC0 | (code >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      utf8.push_back(static_cast<char>(0xE0 | (code >> 12)));
      utf8.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      utf8.push_back(static_cast<char>(0xF0 | (code >> 18)));
      utf8.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return utf8;
}

// A copy of the calling thread's last error; all zero and empty when there is none.
struct LastError {
  VResult code = 0;
  VInt32 platformCode = 0;
  std::wstring message;
  std::wstring parameterName;
  std::wstring callStack;
};

inline LastError GetLastError() {
  LastError last;
  Handle error;
  if (VFailed(VErrorGetLastEx(0, error.put())) || !error) {
    return last;
  }
  VErrorGetCode(error.get(), &last.code);
  VErrorGetPlatformCode(error.get(), &last.platformCode);
  Handle text;
  if (VSucceeded(VErrorGetMessageW(error.get(), text.put()))) {
    last.message = ToWString(text.get());
  }
  if (VSucceeded(VErrorGetParameterNameW(error.get(), text.put()))) {
    last.parameterName = ToWString(text.get());
  }
  if (VSucceeded(VErrorGetExternalCallStackW(error.get(), text.put()))) {
    last.callStack = ToWString(text.get());
  }
  return last;
}

}  // namespace vfw

#endif  // VFW_V_SUPPORT_H
