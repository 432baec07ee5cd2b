/*
 * The BlueFin scanner protocol: framed, checksummed AES-256-ECB command and
 * response packets, the BlueFinDevice object that owns one connection and
 * its keys, the status and key commands, and the image transfer.
 *
 * Every call returns a VResult and records its failures as the thread's
 * last error. One BlueFinDevice carries one exchange at a time; keeping
 * exchanges on one device from overlapping is the caller's affair.
 */
#ifndef BLUEFIN_H
#define BLUEFIN_H

#include <v_core.h>
#include <v_media.h>

#include "bluetooth/v_bluetooth.h"

V_BEGIN_DECLS

/* A "BlueFinDevice" object; its record is private to the protocol layer. */
typedef HVObject HVBlueFin;

/* Called by the image transfer after each part: percent is 8 after the
 * first part and 100 after the last, hImage the image being filled (lent
 * for the call). Negative fails the transfer, positive stops it, 0 goes
 * on. */
typedef VResult(V_CALL *BlueFinProgressCallback)(HVBlueFin hBlueFin, VInt32 percent, HVImage hImage,
                                                 void *pParam);

/* The scanner's status, as BlueFinSetStatus sets it: idle, or armed for a
 * capture (the status query then tells when its image is ready). */
#define BLUEFIN_STATUS_IDLE 0
#define BLUEFIN_STATUS_ARMED 1

/* AES-ECB over the whole 16-byte blocks of length bytes; pIn may equal
 * pOut. */
void BlueFinEncryptBlocks(const VUInt8 *pIn, VInt32 length, const VUInt8 *pKey, VInt32 keyBits, VUInt8 *pOut);
void BlueFinDecryptBlocks(const VUInt8 *pIn, VInt32 length, const VUInt8 *pKey, VInt32 keyBits, VUInt8 *pOut);

/* The object. */
VResult V_CALL BlueFinCreate(HVBluetoothDevice hBluetoothDevice, HVBlueFin *phBlueFin);
VResult V_CALL BlueFinEcho(HVBlueFin hBlueFin);
VResult V_CALL BlueFinDispose(HVObject hObject);
VResult V_CALL BlueFinGetName(HVBlueFin hBlueFin, HVString *phName);
VResult V_CALL BlueFinGetAddress(HVBlueFin hBlueFin, HVString *phAddress);
VResult V_CALL BlueFinSetProgressCallback(HVBlueFin hBlueFin, BlueFinProgressCallback pCallback,
                                          void *pParam);
VResult V_CALL BlueFinDeviceTypeOf(HVType *phType);
VResult V_CALL BlueFinDeviceTypeInit(VTypeDescriptor **ppType);

/* Status and key commands. Null outputs are skipped. The status commands
 * and the image transfer need secure mode, which the first key switch the
 * scanner accepts turns on. */
VResult V_CALL BlueFinGetDeviceInfo(HVBlueFin hBlueFin, char *pModel, VUInt32 *pSerialNumber,
                                    VUInt8 *pValue12, VUInt8 *pValue13, VUInt32 *pValue14);
VResult V_CALL BlueFinGetStatus(HVBlueFin hBlueFin, VUInt32 *pFlag12, VUInt32 *pFlag13,
                                VUInt32 *pIsImageReady, VUInt32 *pValue14);
VResult V_CALL BlueFinSetStatus(HVBlueFin hBlueFin, VUInt32 status);
VResult V_CALL BlueFinSetKey(HVBlueFin hBlueFin, const VUInt8 *pKey, VInt32 keyLength);
VResult V_CALL BlueFinSetRandomKey(HVBlueFin hBlueFin);
VResult V_CALL BlueFinRestoreDefaultKey(HVBlueFin hBlueFin);

/* Image transfer. */
VResult V_CALL BlueFinCreateImage(HVImage *phImage);
VResult V_CALL BlueFinGetImage(HVBlueFin hBlueFin, HVImage *phImage);

V_END_DECLS

#endif /* BLUEFIN_H */
