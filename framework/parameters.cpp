// Parameter descriptors and the parameter bags built from them.
#include <mutex>
#include <vector>

#include "calls.h"
#include "property_bags.h"
#include "string_objects.h"
#include "v_builtin_types.h"
#include "values.h"

namespace vfw::detail {
namespace {

struct DescriptorObject : ObjectHeader {
  DescriptorObject(HVString parameterName, const TypeInfo *type, VUInt32 parameterAttributes,
                   HVValue parameterDefault)
      : ObjectHeader(Type()),
        name(Share(parameterName)),
        valueType(type),
        attributes(parameterAttributes),
        defaultValue(parameterDefault) {}
  ~DescriptorObject() {
    Release(defaultValue);
    Release(name);
  }
  static const TypeInfo *Type() {
    static const TypeInfo *type = MakeBuiltinType<DescriptorObject>(L"VCustomParameterDescriptor");
    return type;
  }
  const std::wstring &Name() const { return static_cast<StringObject *>(FromHandle(name))->text; }

  const HVString name;
  const TypeInfo *const valueType;
  const VUInt32 attributes;
  const HVValue defaultValue;  // already of valueType, or null; the descriptor owns the reference
};

struct ParameterBagObject : ObjectHeader {
  struct Entry {
    HVParameterDescriptor descriptor;
    HVValue value;
  };
  ParameterBagObject() : ObjectHeader(Type()) {}
  ~ParameterBagObject() {
    for (Entry &entry : entries) {
      Release(entry.value);
      Release(entry.descriptor);
    }
  }
  static const TypeInfo *Type() {
    static const TypeInfo *type = MakeBuiltinType<ParameterBagObject>(L"VParameterBag");
    return type;
  }
  static const std::wstring &NameOf(const Entry &entry) {
    return static_cast<DescriptorObject *>(FromHandle(entry.descriptor))->Name();
  }
  Entry *Find(const std::wstring &name) {
    for (Entry &entry : entries) {
      if (NameOf(entry) == name) {
        return &entry;
      }
    }
    return nullptr;
  }

  std::mutex mutex;
  std::vector<Entry> entries;  // the set of names is fixed at creation; values guarded by mutex
};

VResult UnknownParameter(const std::wstring &name) {
  return SetLastError(V_E_ARGUMENT, L"Unknown parameter \"" + name + L"\"");
}

// Unwraps a descriptor handle for the public readers.
VResult GetDescriptor(HVParameterDescriptor handle, DescriptorObject **out) {
  return Unwrap(handle, L"hDescriptor", out);
}

}  // namespace
}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult V_CALL VCustomParameterDescriptorTypeOf(HVType *phType) {
  return Counted(__func__, [&] { return HandOutType(DescriptorObject::Type(), phType); });
}

V_API VResult V_CALL VParameterBagTypeOf(HVType *phType) {
  return HandOutType(ParameterBagObject::Type(), phType);
}

V_API VResult V_CALL VCustomParameterDescriptorCreate(HVString hName, HVType hType, VUInt32 attributes,
                                                      VUInt32, HVValue hDefaultValue, HVObject, HVObject,
                                                      HVObject, const void *, const void *,
                                                      HVParameterDescriptor *phDescriptor) {
  return Counted(__func__, [&] {
    StringObject *name = nullptr;
    VResult result = Unwrap(hName, L"hName", &name);
    if (VFailed(result)) {
      return result;
    }
    if (name->text.empty()) {
      return SetLastError(V_E_ARGUMENT, L"hName is an empty string", L"hName");
    }
    const TypeInfo *type = nullptr;
    result = CheckType(hType, L"hType", &type);
    if (VFailed(result)) {
      return result;
    }
    if (type != StringObject::Type() && type != BooleanType() && type != Int32Type()) {
      return SetLastError(V_E_NOT_SUPPORTED,
                          L"Only string, boolean and 32-bit integer parameters are supported", L"hType");
    }
    ValueObject *defaultValue = nullptr;
    if (hDefaultValue != nullptr) {
      result = Unwrap(hDefaultValue, L"hDefaultValue", &defaultValue);
      if (VFailed(result)) {
        return result;
      }
    }
    if (phDescriptor == nullptr) {
      return ArgumentNull(L"phDescriptor");
    }
    // The default is kept in the parameter's own type, so a bag's value always has that type.
    HVValue converted = nullptr;
    if (defaultValue != nullptr) {
      result = ConvertToValue(*defaultValue, type, &converted);
      if (VFailed(result)) {
        return result;
      }
    }
    try {
      *phDescriptor = ToHandle(NewObject<DescriptorObject>(hName, type, attributes, converted));
    } catch (...) {
      Release(converted);
      throw;
    }
    return V_OK;
  });
}

V_API VResult V_CALL VParameterDescriptorGetNameW(HVParameterDescriptor hDescriptor, HVString *phName) {
  return Shielded([&] {
    DescriptorObject *descriptor = nullptr;
    VResult result = GetDescriptor(hDescriptor, &descriptor);
    if (VFailed(result)) {
      return result;
    }
    if (phName == nullptr) {
      return ArgumentNull(L"phName");
    }
    *phName = Share(descriptor->name);
    return V_OK;
  });
}

V_API VResult V_CALL VParameterDescriptorGetValueType(HVParameterDescriptor hDescriptor, HVType *phType) {
  return Shielded([&] {
    DescriptorObject *descriptor = nullptr;
    VResult result = GetDescriptor(hDescriptor, &descriptor);
    if (VFailed(result)) {
      return result;
    }
    if (phType == nullptr) {
      return ArgumentNull(L"phType");
    }
    *phType = ToHandle(descriptor->valueType);
    return V_OK;
  });
}

V_API VResult V_CALL VParameterDescriptorGetDefaultValue(HVParameterDescriptor hDescriptor,
                                                         HVValue *phValue) {
  return Shielded([&] {
    DescriptorObject *descriptor = nullptr;
    VResult result = GetDescriptor(hDescriptor, &descriptor);
    if (VFailed(result)) {
      return result;
    }
    if (phValue == nullptr) {
      return ArgumentNull(L"phValue");
    }
    *phValue = Share(descriptor->defaultValue);
    return V_OK;
  });
}

V_API VResult V_CALL VParameterDescriptorGetAttributes(HVParameterDescriptor hDescriptor,
                                                       VUInt32 *pAttributes) {
  return Shielded([&] {
    DescriptorObject *descriptor = nullptr;
    VResult result = GetDescriptor(hDescriptor, &descriptor);
    if (VFailed(result)) {
      return result;
    }
    if (pAttributes == nullptr) {
      return ArgumentNull(L"pAttributes");
    }
    *pAttributes = descriptor->attributes;
    return V_OK;
  });
}

V_API VResult V_CALL VParameterBagCreate(const HVParameterDescriptor *arhDescriptors, VInt32 count,
                                         HVParameterBag *phBag) {
  return Counted(__func__, [&] {
    if (count < 0) {
      return SetLastError(V_E_ARGUMENT_OUT_OF_RANGE, L"count is negative", L"count");
    }
    if (arhDescriptors == nullptr && count > 0) {
      return ArgumentNull(L"arhDescriptors");
    }
    if (phBag == nullptr) {
      return ArgumentNull(L"phBag");
    }
    auto *bag = NewObject<ParameterBagObject>();
    HVObject owned = ToHandle(bag);  // released on any failure below
    try {
      bag->entries.reserve(static_cast<std::size_t>(count));
      for (VInt32 i = 0; i < count; ++i) {
        DescriptorObject *descriptor = nullptr;
        VResult result = Unwrap(arhDescriptors[i], L"arhDescriptors", &descriptor);
        if (VSucceeded(result) && bag->Find(descriptor->Name()) != nullptr) {
          result = SetLastError(V_E_ARGUMENT, L"Parameter \"" + descriptor->Name() + L"\" is given twice",
                                L"arhDescriptors");
        }
        if (VFailed(result)) {
          Release(owned);
          return result;
        }
        bag->entries.push_back({Share(arhDescriptors[i]), Share(descriptor->defaultValue)});
      }
    } catch (...) {
      Release(owned);
      throw;
    }
    *phBag = owned;
    return V_OK;
  });
}

V_API VResult V_CALL VParameterBagApplyPropertyBag(HVParameterBag hBag, HVPropertyBag hProperties,
                                                   VBool ignoreUnknown) {
  return Counted(__func__, [&] {
    ParameterBagObject *bag = nullptr;
    VResult result = Unwrap(hBag, L"hBag", &bag);
    if (VFailed(result)) {
      return result;
    }
    PropertyBagObject *properties = nullptr;
    result = Unwrap(hProperties, L"hProperties", &properties);
    if (VFailed(result)) {
      return result;
    }
    // Every value is converted before any is stored: a bag is changed completely or not at all.
    std::vector<std::pair<std::wstring, HVValue>> source = properties->Snapshot();
    std::vector<std::pair<ParameterBagObject::Entry *, HVValue>> updates;
    auto releaseAll = [&] {
      for (auto &item : source) {
        Release(item.second);
      }
      for (auto &update : updates) {
        Release(update.second);
      }
    };
    std::lock_guard lock(bag->mutex);
    try {
      updates.reserve(source.size());
      for (auto &[name, handle] : source) {
        ParameterBagObject::Entry *entry = bag->Find(name);
        if (entry == nullptr) {
          if (ignoreUnknown != V_FALSE) {
            continue;
          }
          result = UnknownParameter(name);
          break;
        }
        auto *descriptor = static_cast<DescriptorObject *>(FromHandle(entry->descriptor));
        HVValue converted = nullptr;
        result = ConvertToValue(*static_cast<ValueObject *>(FromHandle(handle)), descriptor->valueType,
                                &converted);
        if (VFailed(result)) {
          break;
        }
        updates.emplace_back(entry, converted);
      }
    } catch (...) {
      releaseAll();
      throw;
    }
    if (VSucceeded(result)) {
      for (auto &update : updates) {
        std::swap(update.first->value, update.second);  // the old value is released below
      }
    }
    releaseAll();
    return result;
  });
}

V_API VResult V_CALL VParameterBagGetW(HVParameterBag hBag, const wchar_t *szName, HVValue *phValue) {
  return Counted(__func__, [&] {
    ParameterBagObject *bag = nullptr;
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
    ParameterBagObject::Entry *entry = bag->Find(szName);
    if (entry == nullptr) {
      return UnknownParameter(szName);
    }
    *phValue = Share(entry->value);
    return V_OK;
  });
}
