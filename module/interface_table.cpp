// The VDeviceManager interface table and its three constant slots.
#include "module/vdm_bluefin.h"
#include "support/errors.h"

namespace vdm {
namespace {

// Every BlueFin device is of the same device type.
constexpr VUInt32 kDeviceType = 8;
constexpr VUInt32 kDeviceCreationSupported = 1;

VResult StoreValue(VUInt32 *pValue, VUInt32 value) {
  if (!pValue) {
    return ArgumentNull(L"pValue");
  }
  *pValue = value;
  return V_OK;
}

}  // namespace

void FillDeviceManagerInterface(VDeviceManagerInterface *table) {
  table->pGetDeviceTypes = VdmBlueFinGetDeviceTypes;
  table->pGetDeviceType = VdmBlueFinGetDeviceType;
  table->pGetId = VdmBlueFinGetId;
  table->pGetDisplayName = VdmBlueFinGetDisplayName;
  table->pGetMake = VdmBlueFinGetMake;
  table->pGetModel = VdmBlueFinGetModel;
  table->pGetSerialNumber = VdmBlueFinGetSerialNumber;
  table->pCancel = VdmBlueFinCancel;
  table->pCapture = VdmBlueFinCapture;
  table->pGetDeviceCreationSupport = VdmBlueFinGetDeviceCreationSupport;
  table->pGetParameters = VdmBlueFinGetParameters;
  table->pCreateDevice = VdmBlueFinCreateDevice;
  table->pRemoveDevice = VdmBlueFinRemoveDevice;
}

VResult V_CALL VdmBlueFinGetDeviceTypes(VUInt32 *pValue) {
  return StoreValue(pValue, kDeviceType);
}

VResult V_CALL VdmBlueFinGetDeviceType(HVDevice /*hDevice*/, VUInt32 *pValue) {
  return StoreValue(pValue, kDeviceType);
}

VResult V_CALL VdmBlueFinGetDeviceCreationSupport(VUInt32 *pValue) {
  return StoreValue(pValue, kDeviceCreationSupported);
}

}  // namespace vdm
