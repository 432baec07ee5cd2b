// Named values that any object can carry. Rarely used and never contended, so one lock guards
// every object's property map.
#include <map>
#include <mutex>
#include <string>

#include "calls.h"
#include "objects.h"
#include "values.h"

namespace vfw::detail {

struct PropertyMap {
  std::map<std::wstring, HVValue> values;  // each holds a reference
};

namespace {

std::mutex &PropertyLock() {
  static auto *lock = new std::mutex;
  return *lock;
}

}  // namespace

void FreeProperties(ObjectHeader *object) noexcept {
  PropertyMap *map = object->properties.exchange(nullptr, std::memory_order_acq_rel);
  if (map == nullptr) {
    return;
  }
  for (auto &entry : map->values) {
    Release(entry.second);
  }
  delete map;
}

}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult V_CALL VObjectSetPropertyPW(HVObject hObject, const wchar_t *szName, VTypeOfProc pTypeOf,
                                          VUInt32 attributes, const void *pValue, VInt32 valueSize,
                                          VInt32 count, VBool hasValue) {
  return Counted(__func__, [&] {
    ObjectHeader *object = nullptr;
    VResult result = CheckHandle(hObject, L"hObject", &object);
    if (VFailed(result)) {
      return result;
    }
    if (szName == nullptr) {
      return ArgumentNull(L"szName");
    }
    const TypeInfo *type = nullptr;
    result = ResolveTypeOf(pTypeOf, L"pTypeOf", &type);
    if (VFailed(result)) {
      return result;
    }
    HVValue value = nullptr;
    if (hasValue != V_FALSE) {
      result = CreateValue(type, pValue, valueSize, count, attributes, &value);
      if (VFailed(result)) {
        return result;
      }
    }
    HVValue old = nullptr;
    try {
      std::lock_guard lock(PropertyLock());
      PropertyMap *map = object->properties.load(std::memory_order_acquire);
      if (map == nullptr && value != nullptr) {
        map = new PropertyMap;
        object->properties.store(map, std::memory_order_release);
      }
      if (map != nullptr) {
        auto it = map->values.find(szName);
        if (it != map->values.end()) {
          old = it->second;
          if (value != nullptr) {
            it->second = value;
          } else {
            map->values.erase(it);
          }
        } else if (value != nullptr) {
          map->values.emplace(szName, value);
        }
      }
    } catch (...) {
      Release(value);
      throw;
    }
    return Release(old);
  });
}

V_API VResult V_CALL VObjectGetPropertyPW(HVObject hObject, const wchar_t *szName, VTypeOfProc pTypeOf,
                                          void *pValue, VInt32 valueSize) {
  return Shielded([&] {
    ObjectHeader *object = nullptr;
    VResult result = CheckHandle(hObject, L"hObject", &object);
    if (VFailed(result)) {
      return result;
    }
    if (szName == nullptr) {
      return ArgumentNull(L"szName");
    }
    const TypeInfo *type = nullptr;
    result = ResolveTypeOf(pTypeOf, L"pTypeOf", &type);
    if (VFailed(result)) {
      return result;
    }
    HVValue value = nullptr;
    {
      std::lock_guard lock(PropertyLock());
      PropertyMap *map = object->properties.load(std::memory_order_acquire);
      if (map != nullptr) {
        auto it = map->values.find(szName);
        if (it != map->values.end()) {
          value = Share(it->second);
        }
      }
    }
    if (value == nullptr) {
      return SetLastError(V_E_NOT_FOUND, std::wstring(L"The object has no property \"") + szName + L"\"",
                          L"szName");
    }
    result = ConvertValue(*static_cast<ValueObject *>(FromHandle(value)), type, pValue, valueSize);
    Release(value);
    return result;
  });
}
