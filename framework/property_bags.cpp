#include "property_bags.h"

#include "calls.h"
#include "string_objects.h"
#include "values.h"

namespace vfw::detail {

PropertyBagObject::~PropertyBagObject() {
  for (auto &entry : entries) {
    Release(entry.second);
  }
}

const TypeInfo *PropertyBagObject::Type() {
  static const TypeInfo *type = MakeBuiltinType<PropertyBagObject>(L"VPropertyBag");
  return type;
}

std::vector<std::pair<std::wstring, HVValue>> PropertyBagObject::Snapshot() const {
  std::vector<std::pair<std::wstring, HVValue>> copy;
  std::lock_guard lock(mutex);
  copy.reserve(entries.size());
  for (const auto &entry : entries) {
    copy.emplace_back(entry.first, nullptr);
    copy.back().second = Share(entry.second);
  }
  return copy;
}

}  // namespace vfw::detail

using namespace vfw::detail;

namespace {

// Stores (or, for a null value, removes) one entry; the bag takes its own reference.
VResult SetEntry(HVPropertyBag hBag, const wchar_t *szName, HVValue hValue) {
  PropertyBagObject *bag = nullptr;
  VResult result = Unwrap(hBag, L"hBag", &bag);
  if (VFailed(result)) {
    return result;
  }
  if (szName == nullptr) {
    return ArgumentNull(L"szName");
  }
  result = CheckOptionalHandleOfType(hValue, ValueObject::Type(), L"hValue");
  if (VFailed(result)) {
    return result;
  }
  std::wstring name(szName);
  HVValue old = nullptr;
  {
    std::lock_guard lock(bag->mutex);
    auto it = bag->entries.begin();
    while (it != bag->entries.end() && it->first != name) {
      ++it;
    }
    if (it == bag->entries.end()) {
      if (hValue != nullptr) {
        bag->entries.emplace_back(std::move(name), nullptr);
        bag->entries.back().second = Share(hValue);
      }
    } else if (hValue != nullptr) {
      old = it->second;
      it->second = Share(hValue);
    } else {
      old = it->second;
      bag->entries.erase(it);
    }
  }
  return Release(old);  // outside the lock: a value's release runs no code of the bag
}

}  // namespace

V_API VResult V_CALL VPropertyBagTypeOf(HVType *phType) {
  return HandOutType(PropertyBagObject::Type(), phType);
}

V_API VResult V_CALL VPropertyBagCreate(HVPropertyBag *phBag) {
  return Shielded([&] {
    if (phBag == nullptr) {
      return ArgumentNull(L"phBag");
    }
    *phBag = ToHandle(NewObject<PropertyBagObject>());
    return V_OK;
  });
}

V_API VResult V_CALL VPropertyBagSetValueW(HVPropertyBag hBag, const wchar_t *szName, HVValue hValue) {
  return Shielded([&] { return SetEntry(hBag, szName, hValue); });
}

V_API VResult V_CALL VPropertyBagSetStringW(HVPropertyBag hBag, const wchar_t *szName,
                                            const wchar_t *szValue) {
  return Shielded([&] {
    if (szValue == nullptr) {
      return SetEntry(hBag, szName, nullptr);
    }
    HVString text = NewString(szValue);
    HVValue value = nullptr;
    VResult result = CreateValue(StringObject::Type(), &text, static_cast<VInt32>(sizeof text), 1, 0, &value);
    Release(text);
    if (VSucceeded(result)) {
      result = SetEntry(hBag, szName, value);
      Release(value);
    }
    return result;
  });
}

V_API VResult V_CALL VPropertyBagGetValueW(HVPropertyBag hBag, const wchar_t *szName, HVValue *phValue) {
  return Shielded([&] {
    PropertyBagObject *bag = nullptr;
    VResult result = Unwrap(hBag, L"hBag", &bag);
    if (VFailed(result)) {
      return result;
    }
    if (szName == nullptr) {
      return ArgumentNull(L"szName");
    }
    if (phValue == nullptr) {
      return ArgumentNull(L"phValue");
    }
    std::lock_guard lock(bag->mutex);
    HVValue found = nullptr;
    for (const auto &entry : bag->entries) {
      if (entry.first == szName) {
        found = entry.second;
        break;
      }
    }
    *phValue = Share(found);
    return V_OK;
  });
}
