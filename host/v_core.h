/*
 * The host framework's core library (VCore): errors, objects and types,
 * strings, values, parameters, property bags, lists, monitors, sync events,
 * threads, memory, trace sources, modules and plug-in modules.
 *
 * Conventions that hold for every call below unless it says otherwise:
 * - The result is a VResult; a negative result has been recorded as the
 *   calling thread's last error first.
 * - Handles are reference-counted objects. A call that hands out a handle
 *   through an out-parameter hands out a new reference that the caller owns
 *   and releases with VObjectSet(NULL, &handle) (or VObjectUnref).
 * - Every call is thread-safe; objects carry no lock of their own unless
 *   their type says so (monitors, sync events).
 */
#ifndef V_CORE_H
#define V_CORE_H

#include "v_types.h"

V_BEGIN_DECLS

/* ------------------------------------------------------------------------ */
/* Objects and handles                                                      */

/* The part of every object instance that the host owns. A type's instance
 * record starts with it; the module never reads or writes its contents.
 * It is 36 bytes on 32-bit platforms. */
typedef struct VObjectBase_ {
  void *pReserved[9];
} VObjectBase;

typedef VObjectBase *HVObject;
typedef HVObject HVType;
typedef HVObject HVString;
typedef HVObject HVValue;
typedef HVObject HVError;
typedef HVObject HVPropertyBag;
typedef HVObject HVParameterDescriptor;
typedef HVObject HVParameterBag;
typedef HVObject HVSyncEvent;
typedef HVObject HVTraceSource;
typedef HVObject HVModule;
typedef HVObject HVPlugin;

/* Type-of function: *phType receives a new reference to the type. */
typedef VResult(V_CALL *VTypeOfProc)(HVType *phType);
/* Module-of function: *phModule receives a new reference to the module. */
typedef VResult(V_CALL *VModuleOfProc)(HVModule *phModule);
/* Dispose operation, run once when the last reference goes. */
typedef VResult(V_CALL *VObjectDisposeProc)(HVObject hObject);
/* Compare operation: *pResult becomes 1 when equal, 0 when not. */
typedef VResult(V_CALL *VObjectCompareProc)(HVObject hObject, HVObject hOther, VBool *pResult);

/* Type descriptor: a zero-filled record that a type's init callback
 * allocates with VCAlloc(sizeof(VTypeDescriptor)), fills and hands to
 * VTypeRegister, which takes ownership. Fields named fieldNN carry fixed
 * values whose meaning is the host's. On 32-bit platforms the record is 384
 * bytes and each field stands at the offset in its name or comment. */
typedef struct VTypeDescriptor_ {
  void *pReserved0[14];        /*   0 */
  VModuleOfProc pModuleOf;     /*  56: the owning module */
  VTypeOfProc pBaseTypeOf;     /*  60: the base type */
  VInt32 descriptorSize;       /*  64: sizeof(VTypeDescriptor) */
  VInt32 descriptorSize2;      /*  68: sizeof(VTypeDescriptor) */
  VInt32 field72;              /*  72: 0 */
  VInt32 baseInstanceSize;     /*  76: sizeof(VObjectBase) */
  VInt32 instanceSize;         /*  80: sizeof(the whole instance) */
  VInt32 field84;              /*  84: 1 */
  VUInt32 flags;               /*  88: V_TYPE_FLAGS_OBJECT */
  VUInt32 field92;             /*  92: 0x8000 */
  VInt32 field96;              /*  96 */
  const wchar_t *szName;       /* 100: type name */
  void *pReserved104[20];      /* 104 */
  VInt32 field184;             /* 184: 0 */
  void *pReserved188[16];      /* 188 */
  VObjectDisposeProc pDispose; /* 252 */
  void *pReserved256[5];       /* 256 */
  VObjectCompareProc pCompare; /* 276: null when the type has none */
  void *pReserved280[26];      /* 280 */
} VTypeDescriptor;

#define V_TYPE_FLAGS_OBJECT 0x60u
#define V_TYPE_FIELD84 1
#define V_TYPE_FIELD92 0x8000u

/* The callback handed to VTypeRegister: allocates and fills a descriptor. */
typedef VResult(V_CALL *VTypeInitProc)(VTypeDescriptor **ppDescriptor);

/* Registers a type once. If *phType is already set, returns 0 and does
 * nothing; otherwise calls init, registers the descriptor it gives and stores
 * the type in *phType. Types live until the process ends. */
V_API VResult V_CALL VTypeRegister(VTypeInitProc pInit, HVType *phType);
/* Allocates a zero-filled instance of the type that typeOf gives, with one
 * reference held by the caller. */
V_API VResult V_CALL VTypeAllocInstanceP(VTypeOfProc pTypeOf, HVObject *phObject);
/* The plain object type, base of every other object type. */
V_API VResult V_CALL VObjectTypeOf(HVType *phType);
/* *pszName receives the type's name; the text lives as long as the type. */
V_API VResult V_CALL VTypeGetNameW(HVType hType, const wchar_t **pszName);
/* *phType receives a reference to the object's type. */
V_API VResult V_CALL VObjectGetType(HVObject hObject, HVType *phType);
/* *pResult is 1 when the object's type is the type typeOf gives or derives
 * from it. */
V_API VResult V_CALL VObjectIsInstanceOfP(HVObject hObject, VTypeOfProc pTypeOf, VBool *pResult);

/* References value (may be null), releases the old content of *phSlot and
 * stores value there. The result of the release (the old object's dispose
 * when this was its last reference) is returned. */
V_API VResult V_CALL VObjectSet(HVObject hValue, HVObject *phSlot);
/* *phOut receives a new reference to hObject (which may be null). */
V_API VResult V_CALL VObjectGet(HVObject hObject, HVObject *phOut);
/* Releases one reference; the last release runs the type's dispose. */
V_API VResult V_CALL VObjectUnref(HVObject hObject);
/* *parhOut receives a new VAlloc'd array holding a new reference to each of
 * the count handles, *pCount the count. The caller frees it with
 * VObjectFreeArray. */
V_API VResult V_CALL VObjectGetArray(const HVObject *arhObjects, VInt32 count, HVObject **parhOut,
                                     VInt32 *pCount);
/* Releases every handle of the array and frees it. */
V_API VResult V_CALL VObjectFreeArray(HVObject *arhObjects, VInt32 count);
/* Equality through the type's compare operation; without one, identity. */
V_API VResult V_CALL VObjectEquals(HVObject hObject, HVObject hOther, VBool *pResult);
/* Resets a wait object (a sync event) to non-signalled. */
V_API VResult V_CALL VObjectReset(HVObject hObject);

/* Object properties: any object can carry named values. pTypeOf is the
 * value's type (VBooleanTypeOf, VInt32TypeOf, VStringTypeOf), pValue points
 * to count values of valueSize bytes in total. flags and count are passed as
 * the calling code gives them; a boolean is a 32-bit value. */
V_API VResult V_CALL VObjectSetPropertyPW(HVObject hObject, const wchar_t *szName, VTypeOfProc pTypeOf,
                                          VUInt32 attributes, const void *pValue, VInt32 valueSize,
                                          VInt32 count, VBool hasValue);
/* Reads a property set above into *pValue (valueSize bytes). Fails with
 * V_E_NOT_FOUND when the object has no such property. */
V_API VResult V_CALL VObjectGetPropertyPW(HVObject hObject, const wchar_t *szName, VTypeOfProc pTypeOf,
                                          void *pValue, VInt32 valueSize);

/* ------------------------------------------------------------------------ */
/* Errors                                                                   */

/* Records code, message and parameter name as the calling thread's last
 * error and returns code. Null texts are allowed. */
V_API VResult V_CALL VErrorSetLastW(VResult code, const wchar_t *szMessage, const wchar_t *szParameterName,
                                    const wchar_t *szExternalCallStack, HVError hInnerError, HVObject hData);
/* The same with narrow texts; used with all texts null to record a bare
 * code. */
V_API VResult V_CALL VErrorSetLastMPNA(VResult code, const char *szMessage, const char *szParameterName,
                                       const char *szExternalCallStack, HVError hInnerError, HVObject hData);
/* Records a platform error: code is the platform's own error number (errno,
 * WSAGetLastError). The last error gets V_E_WIN32 as its code, the platform
 * code, the platform's text for it as message (szMessage when given), and
 * szExternalCallStack, which names the failed platform call
 * ("   at connect\r\n"). Returns V_E_WIN32. */
V_API VResult V_CALL VErrorSetWin32W(VInt32 code, const wchar_t *szMessage, const wchar_t *szParameterName,
                                     const wchar_t *szExternalCallStack, VBool isWinsock);
/* *phError receives the thread's last error as an object, or null when the
 * thread has none. flags: 0. */
V_API VResult V_CALL VErrorGetLastEx(VUInt32 flags, HVError *phError);
/* Makes hError (may be null: no error) the thread's last error again.
 * flags: 2 restores it as it was. */
V_API VResult V_CALL VErrorSetLastEx(HVError hError, VUInt32 flags);
/* Marks a failure as handled: clears the thread's last error when it holds
 * code. */
V_API VResult V_CALL VErrorSuppress(VResult code);
/* Reports a failure that has no caller to return to (written to the host's
 * error output and counted). Returns 0, or negative if the report failed. */
V_API VResult V_CALL VErrorReport(VResult code);
/* Clears the thread's last error. */
V_API void V_CALL VErrorClearLast(void);

/* Readers of an error object (from VErrorGetLastEx). Texts come back as new
 * strings, null when the error has none. */
V_API VResult V_CALL VErrorGetCode(HVError hError, VResult *pCode);
V_API VResult V_CALL VErrorGetPlatformCode(HVError hError, VInt32 *pPlatformCode);
V_API VResult V_CALL VErrorGetMessageW(HVError hError, HVString *phMessage);
V_API VResult V_CALL VErrorGetParameterNameW(HVError hError, HVString *phName);
V_API VResult V_CALL VErrorGetExternalCallStackW(HVError hError, HVString *phCallStack);
V_API VResult V_CALL VErrorTypeOf(HVType *phType);

/* ------------------------------------------------------------------------ */
/* Memory                                                                   */

V_API VResult V_CALL VAlloc(VSizeType size, void **ppMemory);
/* Zero-filled. */
V_API VResult V_CALL VCAlloc(VSizeType size, void **ppMemory);
/* Frees memory from VAlloc or VCAlloc; null is ignored. */
V_API void V_CALL VFree(void *pMemory);
V_API VResult V_CALL VCopy(void *pDestination, const void *pSource, VSizeType count);
/* *pOrder is 0 when the count bytes are equal, negative or positive as
 * memcmp orders them otherwise. */
V_API VResult V_CALL VCompare(const void *pFirst, const void *pSecond, VSizeType count, VInt32 *pOrder);

/* ------------------------------------------------------------------------ */
/* Strings: immutable wide texts                                            */

/* Caller-provided storage for a string that wraps a text without copying
 * it; the text must outlive the string handle. */
typedef struct VStringWrapper_ {
  void *pReserved[12];
} VStringWrapper;

V_API VResult V_CALL VStringTypeOf(HVType *phType);
/* length -1: the text ends at its terminating zero. */
V_API VResult V_CALL VStringCreateFromStrOrCharsW(const wchar_t *szText, VInt32 length, HVString *phString);
/* Narrow text; each byte becomes one character (Latin-1). */
V_API VResult V_CALL VStringCreateFromStrOrCharsA(const char *szText, VInt32 length, HVString *phString);
V_API VResult V_CALL VStringCreateWrapperW(const wchar_t *szText, VInt32 length, VStringWrapper *pWrapper,
                                           HVString *phString);
/* *pLength receives the length in characters, *pszChars the zero-terminated
 * characters, valid while the string lives. A null string gives length 0 and
 * an empty text. Either out-pointer may be null. */
V_API VResult V_CALL VStringGetBufferW(HVString hString, VInt32 *pLength, const wchar_t **pszChars);
/* True for a null or empty string. */
V_API VBool V_CALL VStringIsEmpty(HVString hString);
/* *phClone receives a string with the same text (may be the same object:
 * strings are immutable). */
V_API VResult V_CALL VStringClone(HVString hString, HVString *phClone);
/* VObjectSet for strings. */
V_API VResult V_CALL VStringSet(HVString hValue, HVString *phSlot);
/* Formats into a new string. Placeholders: "{S}" a zero-terminated wide
 * text, "{AS}" a zero-terminated narrow text, "{I}" a 32-bit integer in
 * decimal, "{I:H8}" a 32-bit integer as eight upper-case hexadecimal
 * digits, "{{" and "}}" literal braces. */
V_API VResult VStringFormatW(HVString *phString, const wchar_t *szFormat, ...);

/* ------------------------------------------------------------------------ */
/* Values                                                                   */

V_API VResult V_CALL VBooleanTypeOf(HVType *phType);
V_API VResult V_CALL VInt32TypeOf(HVType *phType);

/* A value of type hType (string, boolean or 32-bit integer) from pValue,
 * valueSize bytes holding count elements: a string value is given as a
 * string handle, a boolean or integer as a 32-bit number. */
V_API VResult V_CALL VValueCreate(HVType hType, const void *pValue, VInt32 valueSize, VInt32 count,
                                  VUInt32 attributes, HVValue *phValue);
/* The value as text. szFormat and flags: null and 0. */
V_API VResult V_CALL VValueToString(HVValue hValue, const wchar_t *szFormat, VUInt32 flags,
                                    HVString *phString);
/* Converts the value to the type typeOf gives and stores it at pOut
 * (outSize bytes): a string as a new string handle, a boolean or integer as
 * a 32-bit number. */
V_API VResult V_CALL VValueToValueP(HVValue hValue, VTypeOfProc pTypeOf, const wchar_t *szFormat,
                                    VUInt32 flags, void *pOut, VInt32 outSize);
V_API VResult V_CALL VValueGetType(HVValue hValue, HVType *phType);

/* ------------------------------------------------------------------------ */
/* Property bags: named values a caller hands over                          */

V_API VResult V_CALL VPropertyBagCreate(HVPropertyBag *phBag);
V_API VResult V_CALL VPropertyBagSetValueW(HVPropertyBag hBag, const wchar_t *szName, HVValue hValue);
V_API VResult V_CALL VPropertyBagSetStringW(HVPropertyBag hBag, const wchar_t *szName,
                                            const wchar_t *szValue);
/* *phValue receives the value, or null when the bag has none by that name. */
V_API VResult V_CALL VPropertyBagGetValueW(HVPropertyBag hBag, const wchar_t *szName, HVValue *phValue);

/* ------------------------------------------------------------------------ */
/* Parameter descriptors and parameter bags                                 */

V_API VResult V_CALL VCustomParameterDescriptorTypeOf(HVType *phType);
/* A parameter named hName of value type hType with the given attributes and
 * default value (may be null). The arguments given as 0 are the host's. */
V_API VResult V_CALL VCustomParameterDescriptorCreate(HVString hName, HVType hType, VUInt32 attributes,
                                                      VUInt32 flags, HVValue hDefaultValue,
                                                      HVObject hMinValue, HVObject hMaxValue,
                                                      HVObject hSupportedValues, const void *pReserved1,
                                                      const void *pReserved2,
                                                      HVParameterDescriptor *phDescriptor);
V_API VResult V_CALL VParameterDescriptorGetNameW(HVParameterDescriptor hDescriptor, HVString *phName);
V_API VResult V_CALL VParameterDescriptorGetValueType(HVParameterDescriptor hDescriptor, HVType *phType);
V_API VResult V_CALL VParameterDescriptorGetDefaultValue(HVParameterDescriptor hDescriptor, HVValue *phValue);
V_API VResult V_CALL VParameterDescriptorGetAttributes(HVParameterDescriptor hDescriptor,
                                                       VUInt32 *pAttributes);

/* A bag that knows the given parameters, each holding its default. */
V_API VResult V_CALL VParameterBagCreate(const HVParameterDescriptor *arhDescriptors, VInt32 count,
                                         HVParameterBag *phBag);
/* The property bag's values replace the defaults of the parameters of the
 * same names, converted to each parameter's type. With ignoreUnknown 0 a
 * property the bag does not know fails with V_E_ARGUMENT. */
V_API VResult V_CALL VParameterBagApplyPropertyBag(HVParameterBag hBag, HVPropertyBag hProperties,
                                                   VBool ignoreUnknown);
/* *phValue receives the parameter's value, or null when it has none.
 * Fails with V_E_ARGUMENT for a name the bag does not know. */
V_API VResult V_CALL VParameterBagGetW(HVParameterBag hBag, const wchar_t *szName, HVValue *phValue);

/* ------------------------------------------------------------------------ */
/* Lists: growable arrays in caller-provided storage                        */

/* Zero-filled storage is an empty, uninitialised list. */
typedef struct VList_ {
  void *pReserved[4];
} VList;

/* A list of elementSize-byte elements. flags: 0. */
V_API VResult V_CALL VListInit(VList *pList, VInt32 elementSize, VUInt32 flags);
/* A list of handles of the type typeOf gives; it holds a reference to each. */
V_API VResult V_CALL VListInitP(VList *pList, VUInt32 flags, VTypeOfProc pTypeOf);
/* Appends a copy of the elementSize bytes at pElement. */
V_API VResult V_CALL VListAdd(VList *pList, VUInt32 flags, const void *pElement, VInt32 elementSize);
/* Appends the handle at phElement to a handle list, with a new reference. */
V_API VResult V_CALL VListAddP(VList *pList, VTypeOfProc pTypeOf, const HVObject *phElement,
                               VInt32 elementSize);
/* Removes the first element equal (byte for byte) to the one at pElement.
 * Fails with V_E_ARGUMENT when none is equal. */
V_API VResult V_CALL VListRemove(VList *pList, VUInt32 flags, const void *pElement, VInt32 elementSize,
                                 VUInt32 flags2);
/* *ppStart receives the address of the first element, *ppEnd the address
 * one past the last; both are null for a list without elements. */
V_API VResult V_CALL VListGetStart(const VList *pList, VInt32 elementSize, VUInt32 flags, void *ppStart);
V_API VResult V_CALL VListGetEnd(const VList *pList, VInt32 elementSize, VUInt32 flags, void *ppEnd);
V_API VResult V_CALL VListGetCount(const VList *pList, VInt32 *pCount);
/* Hands the handle list's elements over as a VAlloc'd array with their
 * references (freed with VObjectFreeArray) and leaves the list empty. */
V_API VResult V_CALL VListDetachArrayP(VList *pList, VUInt32 flags, VTypeOfProc pTypeOf,
                                       HVObject **parhElements, VInt32 *pCount);
/* Releases the elements (their references, for a handle list) and the
 * storage; the list is uninitialised again. */
V_API VResult V_CALL VListDispose(VList *pList);

/* ------------------------------------------------------------------------ */
/* Monitors, sync events, waits and threads                                 */

/* A recursive lock in caller-provided storage; zero-filled storage is an
 * uninitialised monitor. Init and dispose never fail. */
typedef struct VMonitor_ {
  void *pReserved[2];
} VMonitor;

V_API VResult V_CALL VMonitorInit(VMonitor *pMonitor);
V_API VResult V_CALL VMonitorDispose(VMonitor *pMonitor);
V_API void V_CALL VMonitorEnter(VMonitor *pMonitor);
V_API void V_CALL VMonitorExit(VMonitor *pMonitor);

V_API VResult V_CALL VSyncEventTypeOf(HVType *phType);
/* A sync event; manual reset stays signalled until reset. */
V_API VResult V_CALL VSyncEventCreate(VBool isManualReset, VBool isSignalled, HVSyncEvent *phEvent);
V_API VResult V_CALL VSyncEventSet(HVSyncEvent hEvent);
/* Waits without time-out until the object is signalled. */
V_API VResult V_CALL VWaitObjectWaitFor(HVObject hWaitObject);
/* Waits up to timeout milliseconds; 0 polls without blocking. *pSignalled
 * tells whether the object was signalled. */
V_API VResult V_CALL VWaitObjectWaitForTimed(HVObject hWaitObject, VInt32 timeout, VBool *pSignalled);

/* Sleeps the calling thread for the given milliseconds. */
V_API void V_CALL VThreadSleep(VInt32 milliseconds);

/* ------------------------------------------------------------------------ */
/* Trace sources                                                            */

V_API VResult V_CALL VTraceSourceCreateW(const wchar_t *szName, HVTraceSource *phTraceSource);

/* ------------------------------------------------------------------------ */
/* Modules and plug-in modules                                              */

typedef VResult(V_CALL *VModuleCreateProc)(HVModule *phModule);
typedef VResult(V_CALL *VModuleInitProc)(void);
typedef VResult(V_CALL *VModuleUninitProc)(VBool flag);

/* One interface version a plug-in module serves: a version range (the
 * lowest version in the high 16 bits, the highest in the low 16 bits; in a
 * version the high byte is the major number, the low byte the minor) and the
 * interface table served for it. */
typedef struct VPluginInterfaceVersion_ {
  VUInt32 versionRange;
  const void *pInterface;
} VPluginInterfaceVersion;

/* Plug: pFirst is the host's, interfaceVersion the version plugged (low 16
 * bits), pHostCallbacks the host's callback table for that interface,
 * hPlugin the plug-in. */
typedef VResult(V_CALL *VPluginPlugProc)(void *pFirst, VUInt32 interfaceVersion, const void *pHostCallbacks,
                                         HVPlugin hPlugin);
typedef VResult(V_CALL *VPluginUnplugProc)(void);

/* Registers a module: calls pCreate, stores the module it gives in
 * *phModule and keeps it in the host's registry. */
V_API VResult V_CALL VModuleRegister(VModuleCreateProc pCreate, HVModule *phModule);
/* Ends the registration held in *phModule and empties it. */
V_API VResult V_CALL VModuleUnregister(HVModule *phModule);
/* Fails unless the module that moduleOf gives has been initialised. */
V_API VResult V_CALL VModuleCheckInitP(VModuleOfProc pModuleOf, void *pReserved);

V_API VResult V_CALL VModuleSetOptions(HVModule hModule, VUInt32 options);
V_API VResult V_CALL VModuleSetDependences(HVModule hModule, const VModuleOfProc *arpDependences,
                                           VInt32 count);
V_API VResult V_CALL VModuleSetInit(HVModule hModule, VModuleInitProc pInit);
V_API VResult V_CALL VModuleSetUninit(HVModule hModule, VModuleUninitProc pUninit);
V_API VResult V_CALL VModuleSetNameW(HVModule hModule, const wchar_t *szValue);
V_API VResult V_CALL VModuleSetTitleW(HVModule hModule, const wchar_t *szValue);
V_API VResult V_CALL VModuleSetProductW(HVModule hModule, const wchar_t *szValue);
V_API VResult V_CALL VModuleSetCompanyW(HVModule hModule, const wchar_t *szValue);
V_API VResult V_CALL VModuleSetCopyrightW(HVModule hModule, const wchar_t *szValue);
V_API VResult V_CALL VModuleSetIdW(HVModule hModule, const wchar_t *szValue);
V_API VResult V_CALL VModuleSetNativeIdW(HVModule hModule, const wchar_t *szValue);
V_API VResult V_CALL VModuleSetVersionMajor(HVModule hModule, VInt32 value);
V_API VResult V_CALL VModuleSetVersionMinor(HVModule hModule, VInt32 value);
V_API VResult V_CALL VModuleSetVersionBuild(HVModule hModule, VInt32 value);
V_API VResult V_CALL VModuleSetVersionRevision(HVModule hModule, VInt32 value);

/* Readers for the host's own programs. Texts come back as new strings. */
typedef enum VModuleText_ {
  V_MODULE_NAME,
  V_MODULE_TITLE,
  V_MODULE_PRODUCT,
  V_MODULE_COMPANY,
  V_MODULE_COPYRIGHT,
  V_MODULE_ID,
  V_MODULE_NATIVE_ID,
  V_PLUGIN_NAME,
  V_PLUGIN_INTERFACE_TYPE,
  V_PLUGIN_INCOMPATIBLE_PLUGINS
} VModuleText;
V_API VResult V_CALL VModuleGetTextW(HVModule hModule, VModuleText which, HVString *phText);
/* Major, minor, build and revision. */
V_API VResult V_CALL VModuleGetVersion(HVModule hModule, VInt32 *parVersion4);
V_API VResult V_CALL VModuleGetOptions(HVModule hModule, VUInt32 *pOptions);
/* *parpDependences points into the module; valid while it lives. */
V_API VResult V_CALL VModuleGetDependences(HVModule hModule, const VModuleOfProc **parpDependences,
                                           VInt32 *pCount);

/* A plug-in module: a module that also serves a plug-in interface. */
V_API VResult V_CALL VPluginModuleCreate(HVModule *phModule);
V_API VResult V_CALL VPluginModuleSetPluginNameW(HVModule hModule, const wchar_t *szValue);
V_API VResult V_CALL VPluginModuleSetInterfaceTypeW(HVModule hModule, const wchar_t *szValue);
V_API VResult V_CALL VPluginModuleSetPriority(HVModule hModule, VInt32 value);
V_API VResult V_CALL VPluginModuleSetIncompatiblePluginsW(HVModule hModule, const wchar_t *szValue);
V_API VResult V_CALL VPluginModuleSetPlug(HVModule hModule, VPluginPlugProc pPlug);
V_API VResult V_CALL VPluginModuleSetUnplug(HVModule hModule, VPluginUnplugProc pUnplug);
/* The array is kept by reference: it must outlive the module. */
V_API VResult V_CALL VPluginModuleSetInterfaceVersions(HVModule hModule,
                                                       const VPluginInterfaceVersion *arInterfaceVersions,
                                                       VInt32 count);
V_API VResult V_CALL VPluginModuleGetInterfaceVersions(HVModule hModule,
                                                       const VPluginInterfaceVersion **parInterfaceVersions,
                                                       VInt32 *pCount);
V_API VResult V_CALL VPluginModuleGetPriority(HVModule hModule, VInt32 *pValue);
/* Asks the host to unplug the plug-in: the host calls its unplug. */
V_API VResult V_CALL VPluginUnplug(HVPlugin hPlugin);

/* The host's own modules, named as dependencies by device modules. */
V_API VResult V_CALL VCoreModuleOf(HVModule *phModule);

V_END_DECLS

#endif /* V_CORE_H */
