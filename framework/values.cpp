#include "values.h"

#include <cstring>
#include <cwctype>
#include <limits>

#include "calls.h"
#include "string_objects.h"

namespace vfw::detail {
namespace {

// A placeholder type record: booleans and integers are carried by values, never as objects.
const TypeInfo *MakeScalarType(const wchar_t *name) {
  auto *type = new TypeInfo;
  type->name = name;
  type->base = ObjectType();
  type->sealed = true;
  return type;
}

VResult KindOf(const TypeInfo *type, ValueObject::Kind *kind) {
  if (type == StringObject::Type()) {
    *kind = ValueObject::Kind::kString;
  } else if (type == BooleanType()) {
    *kind = ValueObject::Kind::kBoolean;
  } else if (type == Int32Type()) {
    *kind = ValueObject::Kind::kInt32;
  } else {
    return SetLastError(V_E_NOT_SUPPORTED, L"Only string, boolean and 32-bit integer values are supported");
  }
  return V_OK;
}

VResult CannotConvert(const std::wstring &text, const wchar_t *target) {
  return SetLastError(V_E_ARGUMENT, L"\"" + text + L"\" cannot be converted to " + target);
}

bool EqualsIgnoringCase(const std::wstring &text, const wchar_t *word) {
  std::size_t i = 0;
  for (; i < text.size() && word[i] != L'\0'; ++i) {
    if (std::towlower(static_cast<wint_t>(text[i])) != static_cast<wint_t>(word[i])) {
      return false;
    }
  }
  return i == text.size() && word[i] == L'\0';
}

VResult ParseBoolean(const std::wstring &text, VInt32 *out) {
  if (EqualsIgnoringCase(text, L"true") || text == L"1") {
    *out = 1;
  } else if (EqualsIgnoringCase(text, L"false") || text == L"0") {
    *out = 0;
  } else {
    return CannotConvert(text, L"a boolean");
  }
  return V_OK;
}

VResult ParseInt32(const std::wstring &text, VInt32 *out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) {
    negative = text[i] == L'-';
    ++i;
  }
  if (i == text.size()) {
    return CannotConvert(text, L"an integer");
  }
  VInt64 magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9') {
      return CannotConvert(text, L"an integer");
    }
    magnitude = magnitude * 10 + (text[i] - L'0');
    if (magnitude > VInt64{std::numeric_limits<VInt32>::max()} + 1) {
      return SetLastError(V_E_OVERFLOW, L"\"" + text + L"\" is out of the 32-bit integer range");
    }
  }
  const VInt64 value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<VInt32>::max()) {
    return SetLastError(V_E_OVERFLOW, L"\"" + text + L"\" is out of the 32-bit integer range");
  }
  *out = static_cast<VInt32>(value);
  return V_OK;
}

// The value as the number of a boolean or integer target.
VResult NumberOf(const ValueObject &value, ValueObject::Kind target, VInt32 *out) {
  if (value.kind == ValueObject::Kind::kString) {
    const std::wstring *text = nullptr;
    VResult result = GetText(value.string, L"hValue", &text);
    if (VFailed(result)) {
      return result;
    }
    return target == ValueObject::Kind::kBoolean ? ParseBoolean(*text, out) : ParseInt32(*text, out);
  }
  *out = target == ValueObject::Kind::kBoolean ? (value.number != 0 ? 1 : 0) : value.number;
  return V_OK;
}

VResult CheckSize(VInt32 size, std::size_t expected, const wchar_t *parameterName) {
  if (size < 0 || static_cast<std::size_t>(size) != expected) {
    return SetLastError(V_E_ARGUMENT, std::wstring(parameterName) + L" does not match the value type",
                        parameterName);
  }
  return V_OK;
}

}  // namespace

const TypeInfo *BooleanType() {
  static const TypeInfo *type = MakeScalarType(L"VBoolean");
  return type;
}

const TypeInfo *Int32Type() {
  static const TypeInfo *type = MakeScalarType(L"VInt32");
  return type;
}

ValueObject::ValueObject(Kind valueKind, HVString stringValue, VInt32 numberValue, VUInt32 valueAttributes)
    : ObjectHeader(Type()),
      kind(valueKind),
      string(Share(stringValue)),
      number(numberValue),
      attributes(valueAttributes) {}

ValueObject::~ValueObject() {
  Release(string);
}

const TypeInfo *ValueObject::Type() {
  static const TypeInfo *type = MakeBuiltinType<ValueObject>(L"VValue");
  return type;
}

const TypeInfo *ValueObject::ValueType() const {
  switch (kind) {
    case Kind::kString:
      return StringObject::Type();
    case Kind::kBoolean:
      return BooleanType();
    case Kind::kInt32:
      break;
  }
  return Int32Type();
}

std::wstring ValueText(const ValueObject &value) {
  switch (value.kind) {
    case ValueObject::Kind::kString: {
      const std::wstring *text = nullptr;
      return VSucceeded(GetText(value.string, L"hValue", &text)) ? *text : std::wstring();
    }
    case ValueObject::Kind::kBoolean:
      return value.number != 0 ? L"true" : L"false";
    case ValueObject::Kind::kInt32:
      break;
  }
  return std::to_wstring(value.number);
}

VResult CreateValue(const TypeInfo *type, const void *pValue, VInt32 valueSize, VInt32 count,
                    VUInt32 attributes, HVValue *phValue) {
  ValueObject::Kind kind;
  VResult result = KindOf(type, &kind);
  if (VFailed(result)) {
    return result;
  }
  if (pValue == nullptr) {
    return ArgumentNull(L"pValue");
  }
  if (count != 1) {
    return SetLastError(V_E_NOT_SUPPORTED, L"Only single values are supported", L"count");
  }
  if (phValue == nullptr) {
    return ArgumentNull(L"phValue");
  }
  HVString string = nullptr;
  VInt32 number = 0;
  if (kind == ValueObject::Kind::kString) {
    result = CheckSize(valueSize, sizeof(HVString), L"valueSize");
    if (VFailed(result)) {
      return result;
    }
    std::memcpy(&string, pValue, sizeof string);
    result = CheckOptionalHandleOfType(string, StringObject::Type(), L"pValue");
  } else {
    result = CheckSize(valueSize, sizeof(VInt32), L"valueSize");
    std::memcpy(&number, pValue, sizeof number);
    if (kind == ValueObject::Kind::kBoolean) {
      number = number != 0 ? 1 : 0;
    }
  }
  if (VFailed(result)) {
    return result;
  }
  *phValue = ToHandle(NewObject<ValueObject>(kind, string, number, attributes));
  return V_OK;
}

VResult ConvertValue(const ValueObject &value, const TypeInfo *type, void *pOut, VInt32 outSize) {
  ValueObject::Kind target;
  VResult result = KindOf(type, &target);
  if (VFailed(result)) {
    return result;
  }
  if (pOut == nullptr) {
    return ArgumentNull(L"pOut");
  }
  if (target == ValueObject::Kind::kString) {
    result = CheckSize(outSize, sizeof(HVString), L"outSize");
    if (VFailed(result)) {
      return result;
    }
    HVString string =
        value.kind == ValueObject::Kind::kString ? Share(value.string) : NewString(ValueText(value));
    if (string == nullptr) {
      string = NewString(std::wstring());  // a string value without text still converts to a string
    }
    std::memcpy(pOut, &string, sizeof string);
    return V_OK;
  }
  result = CheckSize(outSize, sizeof(VInt32), L"outSize");
  if (VFailed(result)) {
    return result;
  }
  VInt32 number = 0;
  result = NumberOf(value, target, &number);
  if (VFailed(result)) {
    return result;
  }
  std::memcpy(pOut, &number, sizeof number);
  return V_OK;
}

VResult ConvertToValue(ValueObject &value, const TypeInfo *type, HVValue *phValue) {
  if (value.ValueType() == type) {
    *phValue = Share(ToHandle(&value));
    return V_OK;
  }
  ValueObject::Kind target;
  VResult result = KindOf(type, &target);
  if (VFailed(result)) {
    return result;
  }
  if (target == ValueObject::Kind::kString) {
    HVString text = NewString(ValueText(value));
    try {
      *phValue = ToHandle(NewObject<ValueObject>(target, text, 0, value.attributes));
    } catch (...) {
      Release(text);
      throw;
    }
    Release(text);
    return V_OK;
  }
  VInt32 number = 0;
  result = NumberOf(value, target, &number);
  if (VFailed(result)) {
    return result;
  }
  *phValue = ToHandle(NewObject<ValueObject>(target, nullptr, number, value.attributes));
  return V_OK;
}

}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult V_CALL VBooleanTypeOf(HVType *phType) {
  return Counted(__func__, [&] { return HandOutType(BooleanType(), phType); });
}

V_API VResult V_CALL VInt32TypeOf(HVType *phType) {
  return Counted(__func__, [&] { return HandOutType(Int32Type(), phType); });
}

V_API VResult V_CALL VValueTypeOf(HVType *phType) {
  return HandOutType(ValueObject::Type(), phType);
}

V_API VResult V_CALL VValueCreate(HVType hType, const void *pValue, VInt32 valueSize, VInt32 count,
                                  VUInt32 attributes, HVValue *phValue) {
  return Counted(__func__, [&] {
    const TypeInfo *type = nullptr;
    VResult result = CheckType(hType, L"hType", &type);
    if (VFailed(result)) {
      return result;
    }
    return CreateValue(type, pValue, valueSize, count, attributes, phValue);
  });
}

V_API VResult V_CALL VValueToString(HVValue hValue, const wchar_t *, VUInt32, HVString *phString) {
  return Counted(__func__, [&] {
    ValueObject *value = nullptr;
    VResult result = Unwrap(hValue, L"hValue", &value);
    if (VFailed(result)) {
      return result;
    }
    if (phString == nullptr) {
      return ArgumentNull(L"phString");
    }
    return ConvertValue(*value, StringObject::Type(), phString, static_cast<VInt32>(sizeof(HVString)));
  });
}

V_API VResult V_CALL VValueToValueP(HVValue hValue, VTypeOfProc pTypeOf, const wchar_t *, VUInt32, void *pOut,
                                    VInt32 outSize) {
  return Counted(__func__, [&] {
    ValueObject *value = nullptr;
    VResult result = Unwrap(hValue, L"hValue", &value);
    if (VFailed(result)) {
      return result;
    }
    const TypeInfo *type = nullptr;
    result = ResolveTypeOf(pTypeOf, L"pTypeOf", &type);
    if (VFailed(result)) {
      return result;
    }
    return ConvertValue(*value, type, pOut, outSize);
  });
}

V_API VResult V_CALL VValueGetType(HVValue hValue, HVType *phType) {
  return Counted(__func__, [&] {
    ValueObject *value = nullptr;
    VResult result = Unwrap(hValue, L"hValue", &value);
    if (VFailed(result)) {
      return result;
    }
    if (phType == nullptr) {
      return ArgumentNull(L"phType");
    }
    *phType = ToHandle(value->ValueType());
    return V_OK;
  });
}
