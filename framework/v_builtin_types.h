/*
 * Type-of functions of the framework's built-in types that the host headers do not name. Host
 * programs and tests use them with VObjectIsInstanceOfP and VObjectGetType; a device module has
 * no need of them. Each stores a reference to the type (types are permanent) and returns 0, or
 * V_E_ARGUMENT_NULL for a null phType. These calls are not counted by the test controls.
 */
#ifndef V_BUILTIN_TYPES_H
#define V_BUILTIN_TYPES_H

#include "v_core.h"

V_BEGIN_DECLS

V_API VResult V_CALL VTypeTypeOf(HVType *phType);
V_API VResult V_CALL VValueTypeOf(HVType *phType);
V_API VResult V_CALL VPropertyBagTypeOf(HVType *phType);
V_API VResult V_CALL VParameterBagTypeOf(HVType *phType);
V_API VResult V_CALL VTraceSourceTypeOf(HVType *phType);
V_API VResult V_CALL VModuleTypeOf(HVType *phType);
V_API VResult V_CALL VPluginModuleTypeOf(HVType *phType);
V_API VResult V_CALL VPluginTypeOf(HVType *phType);

V_END_DECLS

#endif /* V_BUILTIN_TYPES_H */
