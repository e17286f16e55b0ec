#include "opc/group/sync_io.h"

#include "opc/com/task_array.h"
#include "opc/items/item_object.h"
#include "opc_error.h"

HRESULT SyncIOPart::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                         OPCITEMSTATE** ppItemValues, HRESULT** ppErrors)
{
    if (!ppItemValues || !ppErrors) return E_INVALIDARG;
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    if (!phServer) return E_INVALIDARG;
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    TaskArray<OPCITEMSTATE> states = AllocateTaskArray<OPCITEMSTATE>(dwCount);
    if (!errors || !states) return E_OUTOFMEMORY;

    const ItemTable& items = owner().Items();
    // Only a device read ignores the group's active flag.
    const bool outOfService = dwSource != OPC_DS_DEVICE && !owner().state.active;
    for (DWORD i = 0; i < dwCount; ++i) {
        OPCITEMSTATE& state = states[i];
        state = OPCITEMSTATE{};
        VariantInit(&state.vDataValue);
        const ItemObject* item = items.Find(phServer[i]);
        if (!item) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        state.hClient = item->ClientHandle();
        errors[i] = item->Read(dwSource, &state.vDataValue, &state.wQuality, &state.ftTimeStamp);
        if (outOfService) state.wQuality = OPC_QUALITY_OUT_OF_SERVICE;
    }
    *ppItemValues = states.release();
    *ppErrors = errors.release();
    return S_OK;
}

HRESULT SyncIOPart::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                          HRESULT** ppErrors)
{
    if (!ppErrors) return E_INVALIDARG;
    *ppErrors = nullptr;
    if (!phServer || !pItemValues) return E_INVALIDARG;
    // Values reach the tags only through the server object's update pass: without it a write
    // would be taken and never delivered.
    if (!owner().HasServer()) return CO_E_OBJNOTCONNECTED;
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    if (!errors) return E_OUTOFMEMORY;

    const ItemTable& items = owner().Items();
    for (DWORD i = 0; i < dwCount; ++i) {
        ItemObject* item = items.Find(phServer[i]);
        if (!item) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        // Whatever the conversion's reason, a synchronous write reports a bad type.
        const HRESULT written = item->Write(pItemValues[i]);
        errors[i] = SUCCEEDED(written) || written == OPC_SERVER_E_VIEWER_NOT_RUNNING
                        ? written
                        : OPC_E_BADTYPE;
    }
    *ppErrors = errors.release();
    return S_OK;
}
