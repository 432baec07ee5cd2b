/*
 * Bluetooth transport: VBluetoothDevice (a display name and a Bluetooth
 * socket address) and VBluetoothSocket (an RFCOMM stream that moves exact
 * byte counts, each readiness wait bounded by a time-out).
 *
 * Every call returns a VResult and records its failures as the thread's
 * last error. Platform failures are recorded with VErrorSetWin32W, the
 * platform's error code and the name of the failed platform call
 * ("   at connect\r\n").
 */
#ifndef V_BLUETOOTH_H
#define V_BLUETOOTH_H

#include <v_core.h>

V_BEGIN_DECLS

typedef HVObject HVBluetoothDevice;
typedef HVObject HVBluetoothSocket;

/* The platform's Bluetooth socket address record (SOCKADDR_BTH on Windows),
 * packed to 30 bytes on every platform so that copy and compare work on the
 * same bytes everywhere. */
#pragma pack(push, 1)
typedef struct VBluetoothSocketAddress_ {
  VUInt16 addressFamily;
  VUInt64 btAddr;            /* the 48-bit device address, low byte last on the air */
  VUInt8 serviceClassId[16]; /* service class GUID, little-endian GUID layout */
  VUInt32 port;              /* RFCOMM channel; 0: find it by service discovery */
} VBluetoothSocketAddress;
#pragma pack(pop)

#define V_BLUETOOTH_ADDRESS_SIZE 30

/* The address family the record carries on every platform (AF_BTH), whatever
 * the platform's own Bluetooth family number is. */
#define V_BLUETOOTH_ADDRESS_FAMILY 32

/* Serial Port profile service class 00001101-0000-1000-8000-00805F9B34FB in
 * the little-endian GUID layout. */
extern const VUInt8 kVBluetoothSerialPortServiceClass[16];

/* VBluetoothDevice */
VResult V_CALL VBluetoothDeviceCreateFromString(HVString hName, HVString hAddress,
                                                HVBluetoothDevice *phBluetoothDevice);
VResult V_CALL VBluetoothDeviceCreate(HVString hName, const VBluetoothSocketAddress *pAddress,
                                      HVBluetoothDevice *phBluetoothDevice);
VResult V_CALL VBluetoothDeviceGetName(HVBluetoothDevice hBluetoothDevice, HVString *phName);
VResult V_CALL VBluetoothDeviceToString(HVBluetoothDevice hBluetoothDevice, HVString *phString);
VResult V_CALL VBluetoothDeviceConnect(HVBluetoothDevice hBluetoothDevice, const VUInt8 *pUuid,
                                       HVBluetoothSocket *phSocket);
VResult V_CALL VBluetoothDeviceCompare(HVObject hObject, HVObject hOther, VBool *pResult);
VResult V_CALL VBluetoothDeviceDispose(HVObject hObject);
VResult V_CALL VBluetoothDeviceTypeOf(HVType *phType);
VResult V_CALL VBluetoothDeviceTypeInit(VTypeDescriptor **ppType);

/* VBluetoothSocket */
VResult V_CALL VBluetoothSocketConnect(const VBluetoothSocketAddress *pAddr,
                                       HVBluetoothSocket *phBluetoothSocket);
VResult V_CALL VBluetoothSocketReceive(HVBluetoothSocket hBluetoothSocket, void *pBuffer, VUInt32 size,
                                       VUInt32 timeout);
VResult V_CALL VBluetoothSocketSend(HVBluetoothSocket hBluetoothSocket, const void *pBuffer, VUInt32 size,
                                    VUInt32 timeout);
VResult V_CALL VBluetoothSocketShutdown(HVBluetoothSocket hBluetoothSocket);
VResult V_CALL VBluetoothSocketClose(HVBluetoothSocket hBluetoothSocket);
VResult V_CALL VBluetoothSocketDispose(HVObject hObject);
VResult V_CALL VBluetoothSocketTypeOf(HVType *phType);
VResult V_CALL VBluetoothSocketTypeInit(VTypeDescriptor **ppType);

/* Module-wide start-up and clean-up of the platform's socket library, one
 * start-up per module however often it is called (plug and unplug call
 * these under the module's monitor). */
VResult V_CALL VBluetoothSocketStartup(void);
VResult V_CALL VBluetoothSocketCleanup(void);

V_END_DECLS

#endif /* V_BLUETOOTH_H */
