// The module's entry points: life-cycle callbacks handed to the host and the
// operations of the VDeviceManager interface table.
#ifndef VDM_BLUEFIN_H
#define VDM_BLUEFIN_H

#include <v_core.h>
#include <v_devices.h>

namespace vdm {

/*
 * Conventions of every entry point below:
 * - The result is 0 on success and a negative code on failure; a failure
 *   is recorded first as the calling thread's last error (code, message,
 *   parameter name), which the host reads with VErrorGetLast*.
 * - Null arguments are tested first, in parameter order: -11 "<name> is
 *   NULL" with the parameter's name.
 * - A string or image handle handed out is a new reference owned by the
 *   caller, who releases it (VObjectUnref or VObjectSet(null, ...)).
 * - Any thread may call any entry point, several at once. No slot holds
 *   the module's lock while it waits for a scanner or for a capture, and
 *   every wait for a scanner is bounded (3 s a receive, 1 s a send).
 * - From a capture callback a host may call any slot of any device.
 */

// Library entry: registration at load, unregistration at unload. Attach
// gives false when the library must not stay loaded.
bool VdmBlueFinProcessAttach();
void VdmBlueFinProcessDetach(bool isProcessEnding);

// Builds the plug-in module: properties, interface table, interface
// version 1.0 to 1.3. *phModule receives the module's only reference.
VResult V_CALL VdmBlueFinModuleCreate(HVModule *phModule);
// Makes the module's lock and its trace source. Before it, every slot but
// the constant ones fails with -7 "VdmBlueFin is not initialized".
VResult V_CALL VdmBlueFinModuleInit();
// With flag 0: unplugs first if still plugged (through the host's
// VPluginUnplug), then releases the trace source and the lock. Never waits
// for other threads: a slot or creation still running keeps the lock until
// it returns. A nonzero flag does nothing.
VResult V_CALL VdmBlueFinModuleUninit(VBool flag);
// Records the interface version, the host's callback table and the
// plug-in, starts Windows Sockets and makes the device list. A major
// version other than 1 fails with -5 (the plug stays recorded, without the
// callback table).
VResult V_CALL VdmBlueFinPlug(void *pFirst, VUInt32 interfaceVersion, const void *pHostCallbacks,
                              HVPlugin hPlugin);
// Closes every device, the last added first, as a removal does (without
// the host's removal notifications), disposes the device list and cleans
// Windows Sockets up. Succeeds once every device is closed and freed, even
// if a scanner could not be given its default key back. A device whose
// capture runs on the calling thread, or whose creation is still telling
// the host of it, is closed when that capture or creation ends.
VResult V_CALL VdmBlueFinUnplug();

// Stores the interface's operations into their slots; touches no other.
void FillDeviceManagerInterface(VDeviceManagerInterface *table);

// Slots 1, 7 and 37: *pValue receives 8, 8 and 1. No lock, no state;
// hDevice is not looked at.
VResult V_CALL VdmBlueFinGetDeviceTypes(VUInt32 *pValue);
VResult V_CALL VdmBlueFinGetDeviceType(HVDevice hDevice, VUInt32 *pValue);
VResult V_CALL VdmBlueFinGetDeviceCreationSupport(VUInt32 *pValue);

// Slots 9, 10, 12, 13: the device's identifier ("TopLink Pacific", model,
// serial number in eight hexadecimal digits), display name, model text and
// serial number, as new strings in *phValue. Read when the device was
// opened: the scanner is not asked, and the module's lock is held only
// briefly. -7 before init or while not plugged, -11 "hDevice is NULL", -10
// "VdmBlueFin device handle is invalid" for a handle not (or no longer)
// given out.
VResult V_CALL VdmBlueFinGetId(HVDevice hDevice, HVString *phValue);
VResult V_CALL VdmBlueFinGetDisplayName(HVDevice hDevice, HVString *phValue);
// Slot 11: "TopLink Pacific" for any device, before init too; no lock.
VResult V_CALL VdmBlueFinGetMake(HVDevice hDevice, HVString *phValue);
VResult V_CALL VdmBlueFinGetModel(HVDevice hDevice, HVString *phValue);
VResult V_CALL VdmBlueFinGetSerialNumber(HVDevice hDevice, HVString *phValue);

// Slot 24: stops the device's capture if it is the one pCaptureParam
// names, and returns once it has ended (at its next poll or image part: up
// to 2 s plus one exchange). 0 at once when no capture, or another one,
// runs. Called on the capture's own thread (from its callback), on a thread
// that capture waits for, or from a host callback made under the module's
// lock, it asks for the stop and returns without waiting.
VResult V_CALL VdmBlueFinCancel(HVDevice hDevice, void *pCaptureParam);

// Slot 27: captures one fingerprint image and blocks until the capture
// ends; there is no overall time-out. Arguments are checked first, in
// order: pStatus, arhImages, imagesLength (at least 1, -10), pImageCount,
// the automatic flag (-6 "Module does not support non-automatic
// capturing"), pCaptureCallback. Then -7 "Scanner is already capturing"
// when the device captures. pCaptureCallback runs on the calling thread at
// every poll (status 22 waiting, 0 ready, a null image) and after every
// image part (the partly filled image, lent for the call); a negative
// result ends the capture with it. On 0, *pStatus is 1 with the image in
// arhImages[0] (the caller's reference), 2 when stopped or 23 without an
// image, arhImages[0] null then; pImageCount is never written. On a
// failure arhImages is untouched.
VResult V_CALL VdmBlueFinCapture(HVDevice hDevice, HVObject hCaptureObject, void *pArg3, void *pArg4,
                                 void *pArg5, void *pArg6, VBool isAutomatic, void *pArg8, void *pArg9,
                                 void *pArg10, HVImage *arhImages, VInt32 imagesLength, VInt32 *pImageCount,
                                 VBiometricStatus *pStatus, VCaptureCallback pCaptureCallback,
                                 void *pCaptureParam);

// Slot 38: the two creation parameters, "DisplayName" and
// "BluetoothAddress". *parhParameters receives an array of new references
// and *pParameterCount its length; the caller releases both
// (VObjectFreeArray).
VResult V_CALL VdmBlueFinGetParameters(HVParameterDescriptor **parhParameters, VInt32 *pParameterCount);
// Slot 39: connects to the scanner at the bag's "BluetoothAddress", runs
// the opening exchange (identity, a fresh session key, status 0), adds the
// device and calls the host's OnDeviceAdded (without the module's lock,
// with pHostParam), then stores the device handle in *phDevice. Blocks for
// the connect and four exchanges, without the module's lock. -11
// "phDevice is NULL"; -7 before init; -7 "VdmBlueFin is not plugged" when
// the module is unplugged before the device could be added, or while the
// host was told of it (no handle then). A refused OnDeviceAdded is returned
// and the device stays, until unplug.
VResult V_CALL VdmBlueFinCreateDevice(HVPropertyBag hParameters, HVDevice *phDevice, void *pHostParam);
// Slot 40: calls the host's OnDeviceRemoving and OnDeviceRemoved (under
// the module's lock; a refusal keeps the device), takes the device out,
// stops its capture as a cancel does, gives the scanner its default key
// back and frees the device, the last two without the module's lock. The
// handle is invalid on return. Succeeds even when the scanner could not be
// given its key back.
VResult V_CALL VdmBlueFinRemoveDevice(HVDevice hDevice, void *pHostParam);

// Builds the two device-creation parameter descriptors once; call under
// ModuleMonitor.
VResult BuildParameterDescriptors();
// Gives back the descriptors when the library is unloaded.
void ReleaseParameterDescriptors();

}  // namespace vdm

#endif  // VDM_BLUEFIN_H
