// The module's entry points: life-cycle callbacks handed to the host and the
// operations of the VDeviceManager interface table.
#ifndef VDM_BLUEFIN_H
#define VDM_BLUEFIN_H

#include <v_core.h>
#include <v_devices.h>

namespace vdm {

// Library entry: registration at load, unregistration at unload. Attach
// gives false when the library must not stay loaded.
bool VdmBlueFinProcessAttach();
void VdmBlueFinProcessDetach(bool isProcessEnding);

VResult V_CALL VdmBlueFinModuleCreate(HVModule *phModule);
VResult V_CALL VdmBlueFinModuleInit();
VResult V_CALL VdmBlueFinModuleUninit(VBool flag);
VResult V_CALL VdmBlueFinPlug(void *pFirst, VUInt32 interfaceVersion, const void *pHostCallbacks,
                              HVPlugin hPlugin);
VResult V_CALL VdmBlueFinUnplug();

// Stores the interface's operations into their slots; touches no other.
void FillDeviceManagerInterface(VDeviceManagerInterface *table);

// Slots 1, 7, 37.
VResult V_CALL VdmBlueFinGetDeviceTypes(VUInt32 *pValue);
VResult V_CALL VdmBlueFinGetDeviceType(HVDevice hDevice, VUInt32 *pValue);
VResult V_CALL VdmBlueFinGetDeviceCreationSupport(VUInt32 *pValue);
// Slots 9 to 13.
VResult V_CALL VdmBlueFinGetId(HVDevice hDevice, HVString *phValue);
VResult V_CALL VdmBlueFinGetDisplayName(HVDevice hDevice, HVString *phValue);
VResult V_CALL VdmBlueFinGetMake(HVDevice hDevice, HVString *phValue);
VResult V_CALL VdmBlueFinGetModel(HVDevice hDevice, HVString *phValue);
VResult V_CALL VdmBlueFinGetSerialNumber(HVDevice hDevice, HVString *phValue);
// Slot 24.
VResult V_CALL VdmBlueFinCancel(HVDevice hDevice, void *pCaptureParam);
// Slot 27.
VResult V_CALL VdmBlueFinCapture(HVDevice hDevice, HVObject hCaptureObject, void *pArg3, void *pArg4,
                                 void *pArg5, void *pArg6, VBool isAutomatic, void *pArg8, void *pArg9,
                                 void *pArg10, HVImage *arhImages, VInt32 imagesLength, VInt32 *pImageCount,
                                 VBiometricStatus *pStatus, VCaptureCallback pCaptureCallback,
                                 void *pCaptureParam);
// Slots 38 to 40.
VResult V_CALL VdmBlueFinGetParameters(HVParameterDescriptor **parhParameters, VInt32 *pParameterCount);
VResult V_CALL VdmBlueFinCreateDevice(HVPropertyBag hParameters, HVDevice *phDevice, void *pHostParam);
VResult V_CALL VdmBlueFinRemoveDevice(HVDevice hDevice, void *pHostParam);

// Builds the two device-creation parameter descriptors once; call under
// ModuleMonitor.
VResult BuildParameterDescriptors();
// Gives back the descriptors when the library is unloaded.
void ReleaseParameterDescriptors();

}  // namespace vdm

#endif  // VDM_BLUEFIN_H
