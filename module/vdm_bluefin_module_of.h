/*
 * The module's one export. The host takes the module through it, and the
 * module names itself by it wherever the host asks for an owning module
 * (type descriptors, the initialisation check at plug).
 */
#ifndef VDM_BLUEFIN_MODULE_OF_H
#define VDM_BLUEFIN_MODULE_OF_H

#include <v_core.h>

#if defined(_WIN32)
#define VDM_EXPORT V_EXTERN_C __declspec(dllexport)
#else
#define VDM_EXPORT V_EXTERN_C __attribute__((visibility("default")))
#endif

/* *phModule receives a new reference to the registered module, registering
 * it first if the library entry has not. */
VDM_EXPORT VResult V_CALL VdmBlueFinModuleOf(HVModule *phModule);

#endif /* VDM_BLUEFIN_MODULE_OF_H */
