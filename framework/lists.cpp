// Growable arrays in caller storage. The storage holds the list's state directly (no lock: the
// caller guards a shared list with its own monitor); the elements live in a tracked block.
#include <cstring>
#include <limits>
#include <optional>

#include "calls.h"
#include "memory.h"
#include "objects.h"

namespace vfw::detail {
namespace {

struct ListState {
  unsigned char *data;
  VInt32 count;
  VInt32 capacity;
  VInt16 elementSize;
  VUInt16 kind;  // 0 in zero-filled storage, one of the list marks below once initialised
};
static_assert(sizeof(ListState) <= sizeof(VList), "the list state must fit in the caller's VList");
static_assert(alignof(ListState) <= alignof(VList));

// Marks that tell an initialised list from zero-filled (or stray) storage.
constexpr VUInt16 kPlainList = 0x4C31;   // "L1"
constexpr VUInt16 kHandleList = 0x4C32;  // "L2"

ListState *StateOf(VList *list) {
  return reinterpret_cast<ListState *>(list);
}
const ListState *StateOf(const VList *list) {
  return reinterpret_cast<const ListState *>(list);
}

bool IsInitialised(const ListState &state) {
  return state.kind == kPlainList || state.kind == kHandleList;
}

constexpr VUInt16 kAnyKind = 0;

// An initialised list, then, when asked, of the kind and with the element
// size, checked in that order.
VResult CheckList(const VList *list, const ListState **out, VUInt16 kind = kAnyKind,
                  std::optional<VInt32> elementSize = std::nullopt) {
  if (list == nullptr) {
    return ArgumentNull(L"pList");
  }
  const ListState *state = StateOf(list);
  if (!IsInitialised(*state)) {
    return SetLastError(V_E_INVALID_OPERATION, L"The list is not initialized");
  }
  if (kind != kAnyKind && state->kind != kind) {
    return SetLastError(V_E_INVALID_OPERATION, kind == kHandleList ? L"The list is not a list of handles"
                                                                   : L"The list is a list of handles");
  }
  if (elementSize && *elementSize != state->elementSize) {
    return SetLastError(V_E_ARGUMENT, L"elementSize does not match the list's element size", L"elementSize");
  }
  *out = state;
  return V_OK;
}

VResult CheckList(VList *list, ListState **out, VUInt16 kind = kAnyKind,
                  std::optional<VInt32> elementSize = std::nullopt) {
  const ListState *state = nullptr;
  VResult result = CheckList(static_cast<const VList *>(list), &state, kind, elementSize);
  if (VSucceeded(result)) {
    *out = const_cast<ListState *>(state);
  }
  return result;
}

std::size_t Bytes(const ListState &state, VInt32 count) {
  return static_cast<std::size_t>(count) * static_cast<std::size_t>(state.elementSize);
}

VResult Append(ListState &state, const void *element) {
  if (state.count == state.capacity) {
    if (state.capacity > std::numeric_limits<VInt32>::max() / 2) {
      return SetLastError(V_E_OVERFLOW, L"The list is full");
    }
    const VInt32 capacity = state.capacity == 0 ? 4 : state.capacity * 2;
    void *grown = TrackedRealloc(state.data, Bytes(state, capacity));
    if (grown == nullptr) {
      return ReportOutOfMemory();
    }
    state.data = static_cast<unsigned char *>(grown);
    state.capacity = capacity;
  }
  std::memcpy(state.data + Bytes(state, state.count), element, static_cast<std::size_t>(state.elementSize));
  ++state.count;
  return V_OK;
}

// Releases the handles of a handle list (first failure returned) and frees the storage.
VResult DisposeState(ListState &state) {
  VResult result = V_OK;
  if (state.kind == kHandleList) {
    for (VInt32 i = 0; i < state.count; ++i) {
      HVObject handle = nullptr;
      std::memcpy(&handle, state.data + Bytes(state, i), sizeof handle);
      const VResult released = Release(handle);
      if (VFailed(released) && VSucceeded(result)) {
        result = released;
      }
    }
  }
  TrackedFree(state.data);
  state = ListState{};
  return result;
}

VResult Initialise(VList *list, VInt32 elementSize, VUInt16 kind) {
  if (list == nullptr) {
    return ArgumentNull(L"pList");
  }
  if (elementSize <= 0 || elementSize > std::numeric_limits<VInt16>::max()) {
    return SetLastError(V_E_ARGUMENT_OUT_OF_RANGE, L"elementSize is out of range", L"elementSize");
  }
  ListState *state = StateOf(list);
  // Initialising a list that still holds elements would lose them (and their references):
  // its old contents are disposed first.
  VResult result = IsInitialised(*state) ? DisposeState(*state) : V_OK;
  *state = ListState{nullptr, 0, 0, static_cast<VInt16>(elementSize), kind};
  return result;
}

VResult GetBound(const VList *pList, VInt32 elementSize, void *ppBound, bool end) {
  const ListState *state = nullptr;
  VResult result = CheckList(pList, &state, kAnyKind, elementSize);
  if (VFailed(result)) {
    return result;
  }
  if (ppBound == nullptr) {
    return ArgumentNull(end ? L"ppEnd" : L"ppStart");
  }
  void *bound = nullptr;
  if (state->count > 0) {
    bound = state->data + (end ? Bytes(*state, state->count) : 0);
  }
  std::memcpy(ppBound, &bound, sizeof bound);
  return V_OK;
}

}  // namespace
}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult V_CALL VListInit(VList *pList, VInt32 elementSize, VUInt32) {
  return Counted(__func__, [&] { return Initialise(pList, elementSize, kPlainList); });
}

V_API VResult V_CALL VListInitP(VList *pList, VUInt32, VTypeOfProc pTypeOf) {
  return Counted(__func__, [&] {
    const TypeInfo *type = nullptr;
    VResult result = ResolveTypeOf(pTypeOf, L"pTypeOf", &type);
    if (VFailed(result)) {
      return result;
    }
    return Initialise(pList, static_cast<VInt32>(sizeof(HVObject)), kHandleList);
  });
}

V_API VResult V_CALL VListAdd(VList *pList, VUInt32, const void *pElement, VInt32 elementSize) {
  return Counted(__func__, [&] {
    ListState *state = nullptr;
    VResult result = CheckList(pList, &state, kPlainList, elementSize);
    if (VFailed(result)) {
      return result;
    }
    if (pElement == nullptr) {
      return ArgumentNull(L"pElement");
    }
    return Append(*state, pElement);
  });
}

V_API VResult V_CALL VListAddP(VList *pList, VTypeOfProc pTypeOf, const HVObject *phElement,
                               VInt32 elementSize) {
  return Counted(__func__, [&] {
    ListState *state = nullptr;
    VResult result = CheckList(pList, &state, kHandleList, elementSize);
    if (VFailed(result)) {
      return result;
    }
    const TypeInfo *type = nullptr;
    result = ResolveTypeOf(pTypeOf, L"pTypeOf", &type);
    if (VFailed(result)) {
      return result;
    }
    if (phElement == nullptr) {
      return ArgumentNull(L"phElement");
    }
    result = CheckOptionalHandleOfType(*phElement, type, L"phElement");
    if (VFailed(result)) {
      return result;
    }
    result = Append(*state, phElement);
    if (VSucceeded(result)) {
      AddRef(*phElement);
    }
    return result;
  });
}

V_API VResult V_CALL VListRemove(VList *pList, VUInt32, const void *pElement, VInt32 elementSize, VUInt32) {
  return Counted(__func__, [&] {
    ListState *state = nullptr;
    VResult result = CheckList(pList, &state, kAnyKind, elementSize);
    if (VFailed(result)) {
      return result;
    }
    if (pElement == nullptr) {
      return ArgumentNull(L"pElement");
    }
    const std::size_t size = static_cast<std::size_t>(state->elementSize);
    for (VInt32 i = 0; i < state->count; ++i) {
      unsigned char *slot = state->data + Bytes(*state, i);
      if (std::memcmp(slot, pElement, size) != 0) {
        continue;
      }
      HVObject removed = nullptr;
      if (state->kind == kHandleList) {
        std::memcpy(&removed, slot, sizeof removed);
      }
      std::memmove(slot, slot + size, Bytes(*state, state->count - i - 1));
      --state->count;
      return Release(removed);
    }
    return SetLastError(V_E_ARGUMENT, L"The list holds no such element", L"pElement");
  });
}

V_API VResult V_CALL VListGetStart(const VList *pList, VInt32 elementSize, VUInt32, void *ppStart) {
  return Counted(__func__, [&] { return GetBound(pList, elementSize, ppStart, false); });
}

V_API VResult V_CALL VListGetEnd(const VList *pList, VInt32 elementSize, VUInt32, void *ppEnd) {
  return Counted(__func__, [&] { return GetBound(pList, elementSize, ppEnd, true); });
}

V_API VResult V_CALL VListGetCount(const VList *pList, VInt32 *pCount) {
  const ListState *state = nullptr;
  VResult result = CheckList(pList, &state);
  if (VFailed(result)) {
    return result;
  }
  if (pCount == nullptr) {
    return ArgumentNull(L"pCount");
  }
  *pCount = state->count;
  return V_OK;
}

V_API VResult V_CALL VListDetachArrayP(VList *pList, VUInt32, VTypeOfProc pTypeOf, HVObject **parhElements,
                                       VInt32 *pCount) {
  return Counted(__func__, [&] {
    ListState *state = nullptr;
    VResult result = CheckList(pList, &state, kHandleList);
    if (VFailed(result)) {
      return result;
    }
    const TypeInfo *type = nullptr;
    result = ResolveTypeOf(pTypeOf, L"pTypeOf", &type);
    if (VFailed(result)) {
      return result;
    }
    if (parhElements == nullptr) {
      return ArgumentNull(L"parhElements");
    }
    if (pCount == nullptr) {
      return ArgumentNull(L"pCount");
    }
    // The storage block itself becomes the array: the references move with it.
    *parhElements = state->count > 0 ? reinterpret_cast<HVObject *>(state->data) : nullptr;
    *pCount = state->count;
    if (state->count == 0) {
      TrackedFree(state->data);
    }
    state->data = nullptr;
    state->count = 0;
    state->capacity = 0;
    return V_OK;
  });
}

V_API VResult V_CALL VListDispose(VList *pList) {
  // Only releases, so an injected failure still releases, as VObjectUnref's
  // does: otherwise no caller could ever get the storage back.
  return CountedRelease(__func__, [&] {
    if (pList == nullptr) {
      return ArgumentNull(L"pList");
    }
    ListState *state = StateOf(pList);
    if (!IsInitialised(*state)) {
      return V_OK;  // disposing an uninitialised (or already disposed) list is harmless
    }
    return DisposeState(*state);
  });
}
