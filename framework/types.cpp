// The type registry: module types registered from their descriptors, instances of them, and the
// type queries.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "calls.h"
#include "memory.h"
#include "objects.h"
#include "v_biometrics.h"
#include "v_builtin_types.h"
#include "v_devices.h"
#include "v_media.h"

namespace vfw::detail {
namespace {

static_assert(sizeof(void *) != 4 || sizeof(VTypeDescriptor) == 384, "the 32-bit descriptor is 384 bytes");
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, pModuleOf) == 56);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, descriptorSize) == 64);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, baseInstanceSize) == 76);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, instanceSize) == 80);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, szName) == 100);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, field184) == 184);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, pDispose) == 252);
static_assert(sizeof(void *) != 4 || offsetof(VTypeDescriptor, pCompare) == 276);
static_assert(sizeof(void *) != 4 || sizeof(VObjectBase) == 36);

struct Registry {
  // Recursive: resolving a new type's base may register that base type from inside a
  // registration.
  std::recursive_mutex lock;
  std::vector<const TypeInfo *> types;  // keeps every module type reachable until the process ends
};

Registry &TheRegistry() {
  static auto *registry = new Registry;
  return *registry;
}

// The framework's own type-of functions: when the framework calls one of them on a caller's
// behalf, that is the framework's work, not a counted call of the caller.
bool IsFrameworkTypeOf(VTypeOfProc typeOf) {
  static const VTypeOfProc kOwn[] = {
      VObjectTypeOf,      VStringTypeOf,    VBooleanTypeOf,      VInt32TypeOf,
      VErrorTypeOf,       VSyncEventTypeOf, VImageTypeOf,        VCustomParameterDescriptorTypeOf,
      VTypeTypeOf,        VValueTypeOf,     VPropertyBagTypeOf,  VParameterBagTypeOf,
      VTraceSourceTypeOf, VModuleTypeOf,    VPluginModuleTypeOf, VPluginTypeOf,
  };
  for (VTypeOfProc own : kOwn) {
    if (own == typeOf) {
      return true;
    }
  }
  return false;
}

VResult Refuse(const wchar_t *why) {
  return SetLastError(V_E_ARGUMENT, why, L"pInit");
}

// Checks the fixed values a module must put into its descriptor and builds the type record.
VResult BuildType(const VTypeDescriptor &d, const TypeInfo **out) {
  if (d.descriptorSize != static_cast<VInt32>(sizeof(VTypeDescriptor)) ||
      d.descriptorSize2 != static_cast<VInt32>(sizeof(VTypeDescriptor))) {
    return Refuse(L"Type descriptor has a wrong descriptor size");
  }
  if (d.field72 != 0 || d.field84 != V_TYPE_FIELD84 || d.field92 != V_TYPE_FIELD92 || d.field184 != 0 ||
      (d.flags & V_TYPE_FLAGS_OBJECT) != V_TYPE_FLAGS_OBJECT) {
    return Refuse(L"Type descriptor has wrong fixed values");
  }
  if (d.szName == nullptr || d.szName[0] == L'\0') {
    return Refuse(L"Type descriptor has no name");
  }
  const TypeInfo *base = ObjectType();
  if (d.pBaseTypeOf != nullptr) {
    VResult result = ResolveTypeOf(d.pBaseTypeOf, L"pBaseTypeOf", &base);
    if (VFailed(result)) {
      return result;
    }
  }
  if (base->sealed) {
    return Refuse(L"Type descriptor names a base type that cannot be derived from");
  }
  if (d.baseInstanceSize < 0 || static_cast<std::size_t>(d.baseInstanceSize) != base->instanceSize) {
    return Refuse(L"Type descriptor has a base instance size other than the base type's");
  }
  if (d.instanceSize < d.baseInstanceSize) {
    return Refuse(L"Type descriptor has an instance size smaller than its base");
  }
  auto *type = new TypeInfo;
  type->name = d.szName;  // copied: the module's text goes when the module is unloaded
  type->base = base;
  type->instanceSize = static_cast<std::size_t>(d.instanceSize);
  type->dispose = d.pDispose;
  type->compare = d.pCompare;
  type->moduleOf = d.pModuleOf;
  *out = type;
  return V_OK;
}

}  // namespace

VResult ResolveTypeOf(VTypeOfProc typeOf, const wchar_t *parameterName, const TypeInfo **out) noexcept {
  if (typeOf == nullptr) {
    return ArgumentNull(parameterName);
  }
  HVType handle = nullptr;
  VResult result;
  if (IsFrameworkTypeOf(typeOf)) {
    UncountedScope uncounted;
    result = typeOf(&handle);
  } else {
    result = typeOf(&handle);
  }
  if (VFailed(result)) {
    return result;
  }
  result = CheckType(handle, parameterName, out);
  Release(handle);  // types are permanent: the pointer stays good
  return result;
}

VResult CheckType(HVType handle, const wchar_t *parameterName, const TypeInfo **out) noexcept {
  ObjectHeader *object = nullptr;
  VResult result = CheckHandleOfType(handle, TypeType(), parameterName, &object);
  if (VSucceeded(result)) {
    *out = static_cast<const TypeInfo *>(object);
  }
  return result;
}

}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult V_CALL VTypeRegister(VTypeInitProc pInit, HVType *phType) {
  return Counted(__func__, [&] {
    if (pInit == nullptr) {
      return ArgumentNull(L"pInit");
    }
    if (phType == nullptr) {
      return ArgumentNull(L"phType");
    }
    Registry &registry = TheRegistry();
    std::lock_guard lock(registry.lock);
    // Re-checked under the lock: two threads may both have seen the slot empty.
    if (*phType != nullptr) {
      return V_OK;
    }
    VTypeDescriptor *descriptor = nullptr;
    VResult result = pInit(&descriptor);
    if (VFailed(result)) {
      return result;
    }
    if (descriptor == nullptr) {
      return Refuse(L"The type's init gave no descriptor");
    }
    const TypeInfo *type = nullptr;
    try {
      registry.types.reserve(registry.types.size() + 1);
      result = BuildType(*descriptor, &type);
    } catch (...) {
      TrackedFree(descriptor);
      throw;
    }
    // The descriptor is ours now whatever happened; its values live on in the type record.
    if (!TrackedAdopt(descriptor)) {
      std::fprintf(stderr, "VTypeRegister: the descriptor was not allocated with VCAlloc\n");
    } else {
      TrackedFree(descriptor);
    }
    if (VFailed(result)) {
      return result;
    }
    registry.types.push_back(type);
    *phType = ToHandle(type);
    return V_OK;
  });
}

V_API VResult V_CALL VTypeAllocInstanceP(VTypeOfProc pTypeOf, HVObject *phObject) {
  return Counted(__func__, [&] {
    const TypeInfo *type = nullptr;
    VResult result = ResolveTypeOf(pTypeOf, L"pTypeOf", &type);
    if (VFailed(result)) {
      return result;
    }
    if (phObject == nullptr) {
      return ArgumentNull(L"phObject");
    }
    if (type->sealed) {
      return SetLastError(V_E_ARGUMENT, L"Instances of this type are made by its own create call",
                          L"pTypeOf");
    }
    void *memory = std::calloc(1, type->instanceSize);
    if (memory == nullptr) {
      return ReportOutOfMemory();
    }
    auto *object = new (memory) ObjectHeader(type);
    NoteObjectCreated();
    *phObject = ToHandle(object);
    return V_OK;
  });
}

V_API VResult V_CALL VObjectTypeOf(HVType *phType) {
  return Counted(__func__, [&] { return HandOutType(ObjectType(), phType); });
}

V_API VResult V_CALL VTypeTypeOf(HVType *phType) {
  return HandOutType(TypeType(), phType);
}

V_API VResult V_CALL VTypeGetNameW(HVType hType, const wchar_t **pszName) {
  return Shielded([&] {
    const TypeInfo *type = nullptr;
    VResult result = CheckType(hType, L"hType", &type);
    if (VFailed(result)) {
      return result;
    }
    if (pszName == nullptr) {
      return ArgumentNull(L"pszName");
    }
    *pszName = type->name.c_str();
    return V_OK;
  });
}

V_API VResult V_CALL VObjectGetType(HVObject hObject, HVType *phType) {
  return Counted(__func__, [&] {
    ObjectHeader *object = nullptr;
    VResult result = CheckHandle(hObject, L"hObject", &object);
    if (VFailed(result)) {
      return result;
    }
    if (phType == nullptr) {
      return ArgumentNull(L"phType");
    }
    *phType = ToHandle(object->type);
    return V_OK;
  });
}

V_API VResult V_CALL VObjectIsInstanceOfP(HVObject hObject, VTypeOfProc pTypeOf, VBool *pResult) {
  return Counted(__func__, [&] {
    ObjectHeader *object = nullptr;
    VResult result = CheckHandle(hObject, L"hObject", &object);
    if (VFailed(result)) {
      return result;
    }
    const TypeInfo *type = nullptr;
    result = ResolveTypeOf(pTypeOf, L"pTypeOf", &type);
    if (VFailed(result)) {
      return result;
    }
    if (pResult == nullptr) {
      return ArgumentNull(L"pResult");
    }
    *pResult = IsInstanceOf(object, type) ? V_TRUE : V_FALSE;
    return V_OK;
  });
}
