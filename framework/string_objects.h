// String objects: immutable wide texts.
#ifndef VFW_STRING_OBJECTS_H
#define VFW_STRING_OBJECTS_H

#include <string>

#include "objects.h"

namespace vfw::detail {

struct StringObject : ObjectHeader {
  explicit StringObject(std::wstring value) : ObjectHeader(Type()), text(std::move(value)) {}
  static const TypeInfo *Type();
  const std::wstring text;
};

// A new string with one reference for the caller. Throws std::bad_alloc.
HVString NewString(std::wstring text);
// The text of a string handle; a null handle is the empty text. Records the error for a handle
// that is not a string.
VResult GetText(HVString handle, const wchar_t *parameterName, const std::wstring **out) noexcept;

}  // namespace vfw::detail

#endif  // VFW_STRING_OBJECTS_H
