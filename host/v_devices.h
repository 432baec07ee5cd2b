/*
 * The host's device library (VDevices): the VDeviceManager plug-in
 * interface that device modules serve, and the callback table the host
 * hands to them at plug.
 *
 * The host calls the interface's slots from any of its threads, several at
 * once. Slots are numbered from 1 in table order; a slot a module does not
 * serve stays null.
 */
#ifndef V_DEVICES_H
#define V_DEVICES_H

#include "v_biometrics.h"
#include "v_core.h"
#include "v_media.h"

V_BEGIN_DECLS

/* A device as the module knows it; opaque to the host. */
typedef void *HVDevice;

#define V_DEVICE_MANAGER_INTERFACE_TYPE L"VDeviceManager"
/* Version 1.3: major number in the high byte, minor in the low byte. */
#define V_DEVICE_MANAGER_INTERFACE_VERSION 0x0103u

V_API VResult V_CALL VDevicesModuleOf(HVModule *phModule);

/* The host's capture callback: called with the device, the capture object,
 * an array of imageCount images (null while no image exists), the capture's
 * status and the capture's parameter. A negative result ends the capture. */
typedef VResult(V_CALL *VCaptureCallback)(HVDevice hDevice, HVObject hCaptureObject, HVImage *arhImages,
                                          VInt32 imageCount, VBiometricStatus *pStatus, void *pParam);

typedef VResult(V_CALL *VDeviceManagerGetValueProc)(VUInt32 *pValue);
typedef VResult(V_CALL *VDeviceManagerGetDeviceValueProc)(HVDevice hDevice, VUInt32 *pValue);
typedef VResult(V_CALL *VDeviceManagerGetStringProc)(HVDevice hDevice, HVString *phValue);
typedef VResult(V_CALL *VDeviceManagerCancelProc)(HVDevice hDevice, void *pCaptureParam);
typedef VResult(V_CALL *VDeviceManagerCaptureProc)(HVDevice hDevice, HVObject hCaptureObject, void *pArg3,
                                                   void *pArg4, void *pArg5, void *pArg6, VBool isAutomatic,
                                                   void *pArg8, void *pArg9, void *pArg10, HVImage *arhImages,
                                                   VInt32 imagesLength, VInt32 *pImageCount,
                                                   VBiometricStatus *pStatus,
                                                   VCaptureCallback pCaptureCallback, void *pCaptureParam);
typedef VResult(V_CALL *VDeviceManagerGetParametersProc)(HVParameterDescriptor **parhParameters,
                                                         VInt32 *pParameterCount);
typedef VResult(V_CALL *VDeviceManagerCreateDeviceProc)(HVPropertyBag hParameters, HVDevice *phDevice,
                                                        void *pHostParam);
typedef VResult(V_CALL *VDeviceManagerRemoveDeviceProc)(HVDevice hDevice, void *pHostParam);

#define V_DEVICE_MANAGER_SLOT_COUNT 48

/* The VDeviceManager interface, major version 1. Slot n stands at index
 * n - 1; reserved slots are the host's and stay null in a device module. */
typedef struct VDeviceManagerInterface_ {
  VDeviceManagerGetValueProc pGetDeviceTypes;           /* 1 */
  void *pReserved2[5];                                  /* 2-6 */
  VDeviceManagerGetDeviceValueProc pGetDeviceType;      /* 7 */
  void *pReserved8;                                     /* 8 */
  VDeviceManagerGetStringProc pGetId;                   /* 9 */
  VDeviceManagerGetStringProc pGetDisplayName;          /* 10 */
  VDeviceManagerGetStringProc pGetMake;                 /* 11 */
  VDeviceManagerGetStringProc pGetModel;                /* 12 */
  VDeviceManagerGetStringProc pGetSerialNumber;         /* 13 */
  void *pReserved14[10];                                /* 14-23 */
  VDeviceManagerCancelProc pCancel;                     /* 24 */
  void *pReserved25[2];                                 /* 25-26 */
  VDeviceManagerCaptureProc pCapture;                   /* 27 */
  void *pReserved28[9];                                 /* 28-36 */
  VDeviceManagerGetValueProc pGetDeviceCreationSupport; /* 37 */
  VDeviceManagerGetParametersProc pGetParameters;       /* 38 */
  VDeviceManagerCreateDeviceProc pCreateDevice;         /* 39 */
  VDeviceManagerRemoveDeviceProc pRemoveDevice;         /* 40 */
  void *pReserved41[8];                                 /* 41-48 */
} VDeviceManagerInterface;

typedef VResult(V_CALL *VDeviceManagerNotifyProc)(HVDevice hDevice, HVPlugin hPlugin, void *pHostParam);

/* The callback table the host hands to a device module at plug. */
typedef struct VDeviceManagerCallbacks_ {
  void *pReserved1;                           /* 1 */
  VDeviceManagerNotifyProc pOnDeviceAdded;    /* 2 */
  VDeviceManagerNotifyProc pOnDeviceRemoving; /* 3 */
  VDeviceManagerNotifyProc pOnDeviceRemoved;  /* 4 */
  void *pReserved5[4];                        /* 5-8 */
} VDeviceManagerCallbacks;

V_END_DECLS

#endif /* V_DEVICES_H */
