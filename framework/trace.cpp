// Trace sources: named objects. Nothing is ever written through them in this framework.
#include "calls.h"
#include "objects.h"
#include "v_builtin_types.h"

namespace vfw::detail {
namespace {

struct TraceSourceObject : ObjectHeader {
  explicit TraceSourceObject(std::wstring sourceName) : ObjectHeader(Type()), name(std::move(sourceName)) {}
  static const TypeInfo *Type() {
    static const TypeInfo *type = MakeBuiltinType<TraceSourceObject>(L"VTraceSource");
    return type;
  }
  const std::wstring name;
};

}  // namespace
}  // namespace vfw::detail

using namespace vfw::detail;

V_API VResult V_CALL VTraceSourceTypeOf(HVType *phType) {
  return HandOutType(TraceSourceObject::Type(), phType);
}

V_API VResult V_CALL VTraceSourceCreateW(const wchar_t *szName, HVTraceSource *phTraceSource) {
  return Counted(__func__, [&] {
    if (szName == nullptr) {
      return ArgumentNull(L"szName");
    }
    if (phTraceSource == nullptr) {
      return ArgumentNull(L"phTraceSource");
    }
    *phTraceSource = ToHandle(NewObject<TraceSourceObject>(szName));
    return V_OK;
  });
}
