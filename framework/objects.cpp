// Reference counting, the dispose chain and the generic object calls.
#include "objects.h"

#include <cstdlib>
#include <new>

#include "calls.h"
#include "memory.h"
#include "sync.h"

namespace vfw::detail {

ObjectHeader::ObjectHeader(const TypeInfo *objectType, bool isPermanent) noexcept
    : type(objectType),
      refs(1),
      properties(nullptr),
      magic(kLiveMagic),
      permanent(isPermanent ? 1u : 0u),
      reserved{} {}

TypeInfo::TypeInfo() noexcept : ObjectHeader(TypeType(), true) {}

TypeInfo::TypeInfo(const TypeInfo *metaType) noexcept : ObjectHeader(metaType, true) {}

// The type of types is its own type.
TypeInfo::TypeInfo(SelfTyped) noexcept : ObjectHeader(nullptr, true) {
  type = this;
}

namespace {

// VObject and VType refer to each other (VType derives from VObject, VObject's type is VType),
// so both are made in one go.
struct RootTypes {
  TypeInfo *object;
  TypeInfo *type;
};

const RootTypes &Roots() {
  static const RootTypes roots = [] {
    auto *typeType = new TypeInfo(TypeInfo::kSelfTyped);
    auto *objectType = new TypeInfo(typeType);
    objectType->name = L"VObject";
    typeType->name = L"VType";
    typeType->base = objectType;
    typeType->instanceSize = sizeof(TypeInfo);
    typeType->sealed = true;
    return RootTypes{objectType, typeType};
  }();
  return roots;
}

}  // namespace

const TypeInfo *ObjectType() {
  return Roots().object;
}
const TypeInfo *TypeType() {
  return Roots().type;
}

bool IsInstanceOf(const ObjectHeader *object, const TypeInfo *type) noexcept {
  for (const TypeInfo *t = object->type; t != nullptr; t = t->base) {
    if (t == type) {
      return true;
    }
  }
  return false;
}

void AddRef(ObjectHeader *object) noexcept {
  if (object->permanent == 0) {
    object->refs.fetch_add(1, std::memory_order_relaxed);
  }
}

VResult Release(ObjectHeader *object) noexcept {
  if (object->permanent != 0) {
    return V_OK;
  }
  const std::intptr_t previous = object->refs.fetch_sub(1, std::memory_order_acq_rel);
  if (previous > 1) {
    return V_OK;
  }
  if (previous < 1) {
    return SetLastError(V_E_INVALID_OPERATION, L"The object has been released more often than referenced");
  }
  // Most-derived dispose first, so that a type's own fields go before what its base owns. A
  // failing dispose does not stop the others or keep the memory: nobody could free it later.
  VResult result = V_OK;
  const HVObject handle = ToHandle(object);
  for (const TypeInfo *t = object->type; t != nullptr; t = t->base) {
    if (t->dispose != nullptr) {
      const VResult disposed = t->dispose(handle);
      if (VFailed(disposed) && VSucceeded(result)) {
        result = disposed;
      }
    }
  }
  FreeProperties(object);
  object->magic = kDeadMagic;
  const TypeInfo *type = object->type;
  if (type->destroy != nullptr) {
    type->destroy(object);
  } else {
    object->~ObjectHeader();
    std::free(object);
  }
  NoteObjectFreed();
  return result;
}

VResult SetSlot(HVObject value, HVObject *slot) noexcept {
  AddRef(value);  // before the release: value may be the slot's old content
  HVObject old = *slot;
  *slot = value;
  return Release(old);
}

void DiscardFailedOutput(HVObject handle) noexcept {
  if (handle == nullptr || FromHandle(handle)->magic != kLiveMagic) {
    return;
  }
  std::optional<ErrorState> failure = SaveLastError();
  Release(handle);
  RestoreLastError(std::move(failure));
}

VResult CheckHandle(HVObject handle, const wchar_t *parameterName, ObjectHeader **out) noexcept {
  if (handle == nullptr) {
    return ArgumentNull(parameterName);
  }
  ObjectHeader *object = FromHandle(handle);
  if (object->magic != kLiveMagic) {
    try {
      return SetLastError(V_E_ARGUMENT, std::wstring(parameterName) + L" is not a valid object",
                          parameterName);
    } catch (const std::bad_alloc &) {
      return SetLastError(V_E_ARGUMENT, nullptr, parameterName);
    }
  }
  *out = object;
  return V_OK;
}

VResult CheckHandleOfType(HVObject handle, const TypeInfo *type, const wchar_t *parameterName,
                          ObjectHeader **out) noexcept {
  ObjectHeader *object = nullptr;
  VResult result = CheckHandle(handle, parameterName, &object);
  if (VFailed(result)) {
    return result;
  }
  if (!IsInstanceOf(object, type)) {
    try {
      return SetLastError(V_E_ARGUMENT, std::wstring(parameterName) + L" is not a " + type->name,
                          parameterName);
    } catch (const std::bad_alloc &) {
      return SetLastError(V_E_ARGUMENT, nullptr, parameterName);
    }
  }
  *out = object;
  return V_OK;
}

VResult CheckOptionalHandleOfType(HVObject handle, const TypeInfo *type,
                                  const wchar_t *parameterName) noexcept {
  if (handle == nullptr) {
    return V_OK;
  }
  ObjectHeader *object = nullptr;
  return CheckHandleOfType(handle, type, parameterName, &object);
}

}  // namespace vfw::detail

using namespace vfw::detail;

namespace {

VResult SetObject(HVObject hValue, HVObject *phSlot) {
  if (hValue != nullptr) {
    ObjectHeader *object = nullptr;
    VResult result = CheckHandle(hValue, L"hValue", &object);
    if (VFailed(result)) {
      return result;
    }
  }
  if (phSlot == nullptr) {
    return ArgumentNull(L"phSlot");
  }
  return SetSlot(hValue, phSlot);
}

}  // namespace

V_API VResult V_CALL VObjectSet(HVObject hValue, HVObject *phSlot) {
  auto body = [&] { return SetObject(hValue, phSlot); };
  return hValue == nullptr ? CountedRelease(__func__, body) : Counted(__func__, body);
}

V_API VResult V_CALL VObjectGet(HVObject hObject, HVObject *phOut) {
  return Counted(__func__, [&] {
    if (hObject != nullptr) {
      ObjectHeader *object = nullptr;
      VResult result = CheckHandle(hObject, L"hObject", &object);
      if (VFailed(result)) {
        return result;
      }
    }
    if (phOut == nullptr) {
      return ArgumentNull(L"phOut");
    }
    *phOut = Share(hObject);
    return V_OK;
  });
}

V_API VResult V_CALL VObjectUnref(HVObject hObject) {
  return CountedRelease(__func__, [&] {
    if (hObject == nullptr) {
      return V_OK;
    }
    ObjectHeader *object = nullptr;
    VResult result = CheckHandle(hObject, L"hObject", &object);
    return VFailed(result) ? result : Release(object);
  });
}

V_API VResult V_CALL VObjectGetArray(const HVObject *arhObjects, VInt32 count, HVObject **parhOut,
                                     VInt32 *pCount) {
  return Counted(__func__, [&] {
    if (count < 0) {
      return SetLastError(V_E_ARGUMENT_OUT_OF_RANGE, L"count is negative", L"count");
    }
    if (arhObjects == nullptr && count > 0) {
      return ArgumentNull(L"arhObjects");
    }
    if (parhOut == nullptr) {
      return ArgumentNull(L"parhOut");
    }
    if (pCount == nullptr) {
      return ArgumentNull(L"pCount");
    }
    for (VInt32 i = 0; i < count; ++i) {
      ObjectHeader *object = nullptr;
      if (arhObjects[i] != nullptr && VFailed(CheckHandle(arhObjects[i], L"arhObjects", &object))) {
        return PeekLastError()->code;
      }
    }
    HVObject *array = nullptr;
    if (count > 0) {
      array =
          static_cast<HVObject *>(TrackedAlloc(sizeof(HVObject) * static_cast<std::size_t>(count), false));
      if (array == nullptr) {
        return ReportOutOfMemory();
      }
      for (VInt32 i = 0; i < count; ++i) {
        array[i] = Share(arhObjects[i]);
      }
    }
    *parhOut = array;
    *pCount = count;
    return V_OK;
  });
}

V_API VResult V_CALL VObjectFreeArray(HVObject *arhObjects, VInt32 count) {
  return Shielded([&] {
    if (arhObjects == nullptr) {
      return count > 0 ? ArgumentNull(L"arhObjects") : V_OK;
    }
    VResult result = V_OK;
    for (VInt32 i = 0; i < count; ++i) {
      const VResult released = Release(arhObjects[i]);
      if (VFailed(released) && VSucceeded(result)) {
        result = released;
      }
    }
    TrackedFree(arhObjects);
    return result;
  });
}

V_API VResult V_CALL VObjectEquals(HVObject hObject, HVObject hOther, VBool *pResult) {
  return Counted(__func__, [&]() -> VResult {
    if (pResult == nullptr) {
      return ArgumentNull(L"pResult");
    }
    ObjectHeader *object = nullptr;
    ObjectHeader *other = nullptr;
    if (hObject != nullptr && VFailed(CheckHandle(hObject, L"hObject", &object))) {
      return PeekLastError()->code;
    }
    if (hOther != nullptr && VFailed(CheckHandle(hOther, L"hOther", &other))) {
      return PeekLastError()->code;
    }
    if (hObject == hOther) {
      *pResult = V_TRUE;
      return V_OK;
    }
    if (object == nullptr || other == nullptr) {
      *pResult = V_FALSE;
      return V_OK;
    }
    // The nearest compare operation in the object's type chain decides, and only for an other
    // object of that same type: a compare procedure may read the other's fields.
    for (const TypeInfo *t = object->type; t != nullptr; t = t->base) {
      if (t->compare != nullptr) {
        if (!IsInstanceOf(other, t)) {
          *pResult = V_FALSE;
          return V_OK;
        }
        VBool equal = V_FALSE;
        VResult result = t->compare(hObject, hOther, &equal);
        if (VFailed(result)) {
          return result;
        }
        *pResult = equal != V_FALSE ? V_TRUE : V_FALSE;
        return V_OK;
      }
    }
    *pResult = V_FALSE;
    return V_OK;
  });
}

V_API VResult V_CALL VObjectReset(HVObject hObject) {
  return Counted(__func__, [&] { return ResetWaitObject(hObject); });
}
