/*
 * The host's imaging library (VMedia): images with one contiguous pixel
 * buffer.
 */
#ifndef V_MEDIA_H
#define V_MEDIA_H

#include "v_core.h"

V_BEGIN_DECLS

typedef HVObject HVImage;

/* 8-bit greyscale, one byte a pixel. */
#define V_PIXEL_FORMAT_GRAYSCALE_8U 0x301001u

V_API VResult V_CALL VMediaModuleOf(HVModule *phModule);
V_API VResult V_CALL VMediaProcModuleOf(HVModule *phModule);
V_API VResult V_CALL VImageTypeOf(HVType *phType);

/* An image of width x height pixels, rows stride bytes apart, row 0 first,
 * in one zero-filled buffer. pReserved: null. Only 8-bit greyscale is
 * supported; stride must be at least width. */
V_API VResult V_CALL VImageCreateEx(VUInt32 pixelFormat, VUInt32 width, VUInt32 height, VUInt32 stride,
                                    void *pReserved, HVImage *phImage);
V_API VResult V_CALL VImageSetHorzResolution(HVImage hImage, VFloat value);
V_API VResult V_CALL VImageSetVertResolution(HVImage hImage, VFloat value);
/* *ppPixels receives the address of pixel 0; the buffer is writable and
 * lives as long as the image. */
V_API VResult V_CALL VImageGetPixelsPtr(HVImage hImage, void **ppPixels);
V_API VResult V_CALL VImageGetPixelFormat(HVImage hImage, VUInt32 *pValue);
V_API VResult V_CALL VImageGetWidth(HVImage hImage, VUInt32 *pValue);
V_API VResult V_CALL VImageGetHeight(HVImage hImage, VUInt32 *pValue);
V_API VResult V_CALL VImageGetStride(HVImage hImage, VUInt32 *pValue);
V_API VResult V_CALL VImageGetHorzResolution(HVImage hImage, VFloat *pValue);
V_API VResult V_CALL VImageGetVertResolution(HVImage hImage, VFloat *pValue);

V_END_DECLS

#endif /* V_MEDIA_H */
