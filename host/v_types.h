/*
 * Basic types, result codes and calling conventions of the host framework.
 *
 * Every host call and every module entry returns a VResult: negative is a
 * failure, zero or positive is success. A failing call has recorded the
 * failure as the calling thread's last error (v_core.h, VError*) before it
 * returns, and callers pass the code up unchanged.
 */
#ifndef V_TYPES_H
#define V_TYPES_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
#define V_EXTERN_C extern "C"
#define V_BEGIN_DECLS extern "C" {
#define V_END_DECLS }
#else
#define V_EXTERN_C extern
#define V_BEGIN_DECLS
#define V_END_DECLS
#endif

/* V_CALL: the calling convention of host calls and of every callback the host
 * makes. __stdcall on 32-bit Windows, the platform default elsewhere.
 * Variadic host calls (VStringFormatW) always use the C convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define V_CALL __stdcall
#else
#define V_CALL
#endif

/* V_API: a function exported by the host framework library. */
#if defined(_WIN32)
#if defined(V_FRAMEWORK_BUILD)
#define V_API V_EXTERN_C __declspec(dllexport)
#else
#define V_API V_EXTERN_C __declspec(dllimport)
#endif
#else
#define V_API V_EXTERN_C __attribute__((visibility("default")))
#endif

typedef int32_t VResult;
typedef int32_t VBool;
typedef int8_t VInt8;
typedef uint8_t VUInt8;
typedef int16_t VInt16;
typedef uint16_t VUInt16;
typedef int32_t VInt32;
typedef uint32_t VUInt32;
typedef int64_t VInt64;
typedef uint64_t VUInt64;
typedef float VFloat;
typedef size_t VSizeType;

#define V_FALSE 0
#define V_TRUE 1

#define VFailed(result) ((result) < 0)
#define VSucceeded(result) ((result) >= 0)

/* Result codes. */
#define V_OK 0
#define V_E_FAILED (-1)                /* generic failure; a peer broke its protocol */
#define V_E_OUT_OF_MEMORY (-3)         /* an allocation gave nothing */
#define V_E_NOT_SUPPORTED_VERSION (-5) /* an interface version the callee cannot serve */
#define V_E_NOT_SUPPORTED (-6)         /* an unsupported mode */
#define V_E_INVALID_OPERATION (-7)     /* not valid in the present state */
#define V_E_OVERFLOW (-8)              /* a count out of range */
#define V_E_ARGUMENT (-10)             /* an argument with a wrong value */
#define V_E_ARGUMENT_NULL (-11)        /* a null argument */
#define V_E_ARGUMENT_OUT_OF_RANGE (-12)
#define V_E_INVALID_DATA (-14)  /* contents that make no sense */
#define V_E_END_OF_STREAM (-15) /* the peer closed the stream */
#define V_E_NOT_FOUND (-19)     /* a named item does not exist */
#define V_E_CORRUPTED (-29)     /* data failed its checksum or size check */
#define V_E_TIMEOUT (-30)       /* a wait ran out */
#define V_E_WIN32                                 \
  (-90) /* a platform call failed; the last error \
           carries the platform's own code */

#endif /* V_TYPES_H */
