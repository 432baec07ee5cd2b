// Objects and types as the framework sees them: the header every instance starts with, the type
// records, reference counting and handle checks.
#ifndef VFW_OBJECTS_H
#define VFW_OBJECTS_H

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "errors.h"
#include "v_core.h"

namespace vfw::detail {

struct TypeInfo;
struct PropertyMap;

// Lives in the VObjectBase part of every instance; the module never looks inside it.
struct ObjectHeader {
  explicit ObjectHeader(const TypeInfo *objectType, bool isPermanent = false) noexcept;
  ObjectHeader(const ObjectHeader &) = delete;
  ObjectHeader &operator=(const ObjectHeader &) = delete;

  const TypeInfo *type;
  std::atomic<std::intptr_t> refs;
  std::atomic<PropertyMap *> properties;
  std::uintptr_t magic;      // kLiveMagic while the object lives: catches handles that are not ours
  std::uintptr_t permanent;  // types and the framework's own modules: references are not counted
  void *reserved[4];
};
static_assert(sizeof(ObjectHeader) == sizeof(VObjectBase), "the header must fill VObjectBase exactly");
static_assert(sizeof(std::atomic<std::intptr_t>) == sizeof(void *));
static_assert(sizeof(std::atomic<PropertyMap *>) == sizeof(void *));

inline constexpr std::uintptr_t kLiveMagic = static_cast<std::uintptr_t>(0x56466F62u);  // "VFob"
inline constexpr std::uintptr_t kDeadMagic = static_cast<std::uintptr_t>(0xDEADF00Du);

struct TypeInfo : ObjectHeader {
  enum SelfTyped { kSelfTyped };
  TypeInfo() noexcept;
  explicit TypeInfo(SelfTyped) noexcept;
  explicit TypeInfo(const TypeInfo *metaType) noexcept;

  std::wstring name;
  const TypeInfo *base = nullptr;
  std::size_t instanceSize = sizeof(VObjectBase);
  VObjectDisposeProc dispose = nullptr;
  VObjectCompareProc compare = nullptr;
  VModuleOfProc moduleOf = nullptr;
  // C++ teardown of a built-in instance, run after the dispose chain; module types have none and
  // their instances are plain zero-filled blocks.
  void (*destroy)(ObjectHeader *object) = nullptr;
  // A built-in type whose instances carry C++ state: nothing derives from it and
  // VTypeAllocInstanceP cannot make one.
  bool sealed = false;
};

inline HVObject ToHandle(const ObjectHeader *object) {
  return reinterpret_cast<HVObject>(const_cast<ObjectHeader *>(object));
}
inline HVType ToHandle(const TypeInfo *type) {
  return ToHandle(static_cast<const ObjectHeader *>(type));
}
// The body of every XxxTypeOf: the type's handle, or a refused null.
inline VResult HandOutType(const TypeInfo *type, HVType *phType) noexcept {
  if (phType == nullptr) {
    return ArgumentNull(L"phType");
  }
  *phType = ToHandle(type);
  return V_OK;
}
inline ObjectHeader *FromHandle(HVObject handle) {
  return reinterpret_cast<ObjectHeader *>(handle);
}

const TypeInfo *ObjectType();  // VObject, the root
const TypeInfo *TypeType();    // the type of types

// A built-in type: base VObject, instances made by NewObject<T>.
template <class T>
const TypeInfo *MakeBuiltinType(const wchar_t *name, VObjectCompareProc compare = nullptr) {
  auto *type = new TypeInfo;  // permanent: types live until the process ends
  type->name = name;
  type->base = ObjectType();
  type->instanceSize = sizeof(T);
  type->compare = compare;
  type->destroy = [](ObjectHeader *object) { delete static_cast<T *>(object); };
  type->sealed = true;
  return type;
}

void NoteObjectCreated() noexcept;
void NoteObjectFreed() noexcept;

// T derives from ObjectHeader and passes T::Type() to it. Throws std::bad_alloc.
template <class T, class... Args>
T *NewObject(Args &&...args) {
  T *object = new T(std::forward<Args>(args)...);
  NoteObjectCreated();
  return object;
}

bool IsInstanceOf(const ObjectHeader *object, const TypeInfo *type) noexcept;
void AddRef(ObjectHeader *object) noexcept;
inline void AddRef(HVObject handle) noexcept {
  if (handle != nullptr) {
    AddRef(FromHandle(handle));
  }
}
// Drops one reference; the last one runs the dispose chain and frees the instance. The result is
// the first failing dispose's code (the memory is freed all the same).
VResult Release(ObjectHeader *object) noexcept;
inline VResult Release(HVObject handle) noexcept {
  return handle != nullptr ? Release(FromHandle(handle)) : V_OK;
}
// References value, releases the slot's old content and stores value.
VResult SetSlot(HVObject value, HVObject *slot) noexcept;
// Moves a new reference into *out (out may not be null).
inline HVObject Share(HVObject handle) noexcept {
  AddRef(handle);
  return handle;
}

// Releases a reference that a failing callback handed out all the same (a create callback whose
// final release failed after it had stored its result). The caller owns the out-parameter, so
// dropping it is the only way not to leak it; the callback's failure stays the last error.
void DiscardFailedOutput(HVObject handle) noexcept;

// Handle checks. They record the error (null, not an object, wrong type) and return its code.
VResult CheckHandle(HVObject handle, const wchar_t *parameterName, ObjectHeader **out) noexcept;
VResult CheckHandleOfType(HVObject handle, const TypeInfo *type, const wchar_t *parameterName,
                          ObjectHeader **out) noexcept;
// A null handle is allowed (gives null); anything else must be of the type.
VResult CheckOptionalHandleOfType(HVObject handle, const TypeInfo *type,
                                  const wchar_t *parameterName) noexcept;

template <class T>
VResult Unwrap(HVObject handle, const wchar_t *parameterName, T **out) noexcept {
  ObjectHeader *object = nullptr;
  VResult result = CheckHandleOfType(handle, T::Type(), parameterName, &object);
  if (VSucceeded(result)) {
    *out = static_cast<T *>(object);
  }
  return result;
}

// The type a type-of function names. The framework's own type-of exports are recognised and
// answered directly, so that the framework's inner work does not show up as counted calls.
VResult ResolveTypeOf(VTypeOfProc typeOf, const wchar_t *parameterName, const TypeInfo **out) noexcept;
VResult CheckType(HVType handle, const wchar_t *parameterName, const TypeInfo **out) noexcept;

// Frees the object's properties (object_properties.cpp), run as an instance is freed.
void FreeProperties(ObjectHeader *object) noexcept;

}  // namespace vfw::detail

#endif  // VFW_OBJECTS_H
