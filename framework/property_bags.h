// Property bags: named values a caller hands over.
#ifndef VFW_PROPERTY_BAGS_H
#define VFW_PROPERTY_BAGS_H

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "objects.h"

namespace vfw::detail {

struct PropertyBagObject : ObjectHeader {
  PropertyBagObject() : ObjectHeader(Type()) {}
  ~PropertyBagObject();
  static const TypeInfo *Type();

  // Entries keep the order they were first set in; each holds a reference to its value.
  std::vector<std::pair<std::wstring, HVValue>> Snapshot() const;  // with new references

  mutable std::mutex mutex;
  std::vector<std::pair<std::wstring, HVValue>> entries;  // guarded by mutex
};

}  // namespace vfw::detail

#endif  // VFW_PROPERTY_BAGS_H
