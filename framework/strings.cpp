#include "string_objects.h"

#include <cstring>
#include <cwchar>

#include "calls.h"

namespace vfw::detail {
namespace {

VResult V_CALL CompareStrings(HVObject hObject, HVObject hOther, VBool *pResult) {
  *pResult = static_cast<StringObject *>(FromHandle(hObject))->text ==
                     static_cast<StringObject *>(FromHandle(hOther))->text
                 ? V_TRUE
                 : V_FALSE;
  return V_OK;
}

// Validates a (text, length) pair the way both string constructors take it.
VResult CheckTextArguments(const void *text, VInt32 length, HVString *phString) {
  if (length < -1) {
    return SetLastError(V_E_ARGUMENT_OUT_OF_RANGE, L"length is less than -1", L"length");
  }
  if (text == nullptr && length > 0) {
    return ArgumentNull(L"szText");
  }
  if (phString == nullptr) {
    return ArgumentNull(L"phString");
  }
  return V_OK;
}

}  // namespace

const TypeInfo *StringObject::Type() {
  static const TypeInfo *type = MakeBuiltinType<StringObject>(L"VString", CompareStrings);
  return type;
}

HVString NewString(std::wstring text) {
  return ToHandle(NewObject<StringObject>(std::move(text)));
}

VResult GetText(HVString handle, const wchar_t *parameterName, const std::wstring **out) noexcept {
  static const std::wstring kEmpty;
  if (handle == nullptr) {
    *out = &kEmpty;
    return V_OK;
  }
  StringObject *string = nullptr;
  VResult result = Unwrap(handle, parameterName, &string);
  if (VSucceeded(result)) {
    *out = &string->text;
  }
  return result;
}

}  // namespace vfw::detail

using namespace vfw::detail;

namespace {

VResult CreateWide(const wchar_t *szText, VInt32 length, HVString *phString) {
  VResult result = CheckTextArguments(szText, length, phString);
  if (VFailed(result)) {
    return result;
  }
  if (szText == nullptr) {
    *phString = NewString(std::wstring());
  } else if (length == -1) {
    *phString = NewString(std::wstring(szText));
  } else {
    *phString = NewString(std::wstring(szText, static_cast<std::size_t>(length)));
  }
  return V_OK;
}

}  // namespace

V_API VResult V_CALL VStringTypeOf(HVType *phType) {
  return Counted(__func__, [&] { return HandOutType(StringObject::Type(), phType); });
}

V_API VResult V_CALL VStringCreateFromStrOrCharsW(const wchar_t *szText, VInt32 length, HVString *phString) {
  return Counted(__func__, [&] { return CreateWide(szText, length, phString); });
}

V_API VResult V_CALL VStringCreateFromStrOrCharsA(const char *szText, VInt32 length, HVString *phString) {
  return Counted(__func__, [&] {
    VResult result = CheckTextArguments(szText, length, phString);
    if (VFailed(result)) {
      return result;
    }
    if (szText == nullptr) {
      *phString = NewString(std::wstring());
    } else {
      std::size_t count = length == -1 ? std::strlen(szText) : static_cast<std::size_t>(length);
      *phString = NewString(WidenLatin1(szText, count));
    }
    return V_OK;
  });
}

// The wrapper storage is not needed: our strings copy their text, which also frees the caller
// from keeping the text alive.
V_API VResult V_CALL VStringCreateWrapperW(const wchar_t *szText, VInt32 length, VStringWrapper *pWrapper,
                                           HVString *phString) {
  return Counted(__func__, [&] {
    if (pWrapper == nullptr) {
      return ArgumentNull(L"pWrapper");
    }
    return CreateWide(szText, length, phString);
  });
}

V_API VResult V_CALL VStringGetBufferW(HVString hString, VInt32 *pLength, const wchar_t **pszChars) {
  return Counted(__func__, [&] {
    const std::wstring *text = nullptr;
    VResult result = GetText(hString, L"hString", &text);
    if (VFailed(result)) {
      return result;
    }
    if (pLength != nullptr) {
      *pLength = static_cast<VInt32>(text->size());
    }
    if (pszChars != nullptr) {
      *pszChars = text->c_str();
    }
    return V_OK;
  });
}

V_API VBool V_CALL VStringIsEmpty(HVString hString) {
  if (hString == nullptr) {
    return V_TRUE;
  }
  ObjectHeader *object = FromHandle(hString);
  if (object->magic != kLiveMagic || !IsInstanceOf(object, StringObject::Type())) {
    return V_FALSE;  // not a string at all; the caller's next string call reports it
  }
  return static_cast<StringObject *>(object)->text.empty() ? V_TRUE : V_FALSE;
}

V_API VResult V_CALL VStringClone(HVString hString, HVString *phClone) {
  return Counted(__func__, [&] {
    VResult result = CheckOptionalHandleOfType(hString, StringObject::Type(), L"hString");
    if (VFailed(result)) {
      return result;
    }
    if (phClone == nullptr) {
      return ArgumentNull(L"phClone");
    }
    *phClone = Share(hString);  // immutable: the clone is the same object
    return V_OK;
  });
}

V_API VResult V_CALL VStringSet(HVString hValue, HVString *phSlot) {
  auto body = [&] {
    VResult result = CheckOptionalHandleOfType(hValue, StringObject::Type(), L"hValue");
    if (VFailed(result)) {
      return result;
    }
    if (phSlot == nullptr) {
      return ArgumentNull(L"phSlot");
    }
    return SetSlot(hValue, phSlot);
  };
  return hValue == nullptr ? CountedRelease(__func__, body) : Counted(__func__, body);
}
