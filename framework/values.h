// Values: one string, boolean or 32-bit integer, with the conversions between them.
#ifndef VFW_VALUES_H
#define VFW_VALUES_H

#include <string>

#include "objects.h"

namespace vfw::detail {

const TypeInfo *BooleanType();
const TypeInfo *Int32Type();

struct ValueObject : ObjectHeader {
  enum class Kind { kString, kBoolean, kInt32 };
  ValueObject(Kind valueKind, HVString stringValue, VInt32 numberValue, VUInt32 valueAttributes);
  ~ValueObject();
  static const TypeInfo *Type();
  const TypeInfo *ValueType() const;

  const Kind kind;
  const HVString string;  // a reference, or null (the empty text) for a string value
  const VInt32 number;    // a boolean is 0 or 1
  const VUInt32 attributes;
};

// A new value from caller data, checked the way VValueCreate checks it. Records the error.
VResult CreateValue(const TypeInfo *type, const void *pValue, VInt32 valueSize, VInt32 count,
                    VUInt32 attributes, HVValue *phValue);
// Converts a value to the given type and stores it at pOut as VValueToValueP does.
VResult ConvertValue(const ValueObject &value, const TypeInfo *type, void *pOut, VInt32 outSize);
// The value converted into a new value object of the given type (the same object, shared, when
// it already has that type).
VResult ConvertToValue(ValueObject &value, const TypeInfo *type, HVValue *phValue);
std::wstring ValueText(const ValueObject &value);

}  // namespace vfw::detail

#endif  // VFW_VALUES_H
