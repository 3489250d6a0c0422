#include "hbaapi_bridge/function_table.h"

namespace tavro {

const HbaApiFunction hbaapi_function_table[kHbaApiFunctionCount + 1] = {
    {"HBA_GetVersion", hbaapi_call, 0x002, ".u"},
    {"HBA_LoadLibrary", hbaapi_call, 0x001, ".S"},
    {"HBA_FreeLibrary", hbaapi_call, 0x001, ".S"},
    {"HBA_GetNumberOfAdapters", hbaapi_call, 0x002, ".u"},
    {"HBA_GetAdapterName", hbaapi_call, 0x111, "uC.S"},
    {"HBA_OpenAdapter", hbaapi_call, 0x103, "C.H"},
    {"HBA_CloseAdapter", hbaapi_call, 0x100, "H.N"},
    {"HBA_GetAdapterAttributes", hbaapi_call, 0x111, "HA.S"},
    {"HBA_GetAdapterPortAttributes", hbaapi_call, 0x211, "HuP.S"},
    {"HBA_GetPortStatistics", hbaapi_call, 0x211, "HuT.S"},
    {"HBA_GetDiscoveredPortAttributes", hbaapi_call, 0x311, "HuuP.S"},
    {"HBA_GetPortAttributesByWWN", hbaapi_not_implemented, 0x211, "HWP.S"},
    {"HBA_SendCTPassThru", hbaapi_call, 0x321, "HRuRu.S"},
    {"HBA_RefreshInformation", hbaapi_call, 0x100, "H.N"},
    {"HBA_ResetStatistics", hbaapi_call, 0x200, "Hu.N"},
    {"HBA_GetFcpTargetMapping", hbaapi_call, 0x111, "HM.S"},
    {"HBA_GetFcpPersistentBinding", hbaapi_call, 0x111, "HB.S"},
    {"HBA_GetEventBuffer", hbaapi_call, 0x221, "HuuE.S"},
    {"HBA_SetRNIDMgmtInfo", hbaapi_not_implemented, 0x201, "HG.S"},
    {"HBA_GetRNIDMgmtInfo", hbaapi_call, 0x111, "HI.S"},
    {"HBA_SendRNID", hbaapi_not_implemented, 0x421, "HWYRu.S"},
    {"HBA_SendScsiInquiry", hbaapi_not_implemented, 0x541, "HWLVURuRu.S"},
    {"HBA_SendReportLUNs", hbaapi_not_implemented, 0x241, "HWRuRu.S"},
    {"HBA_SendReadCapacity", hbaapi_not_implemented, 0x341, "HWLRuRu.S"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tavro
