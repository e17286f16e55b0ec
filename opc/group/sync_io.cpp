#include "opc/group/sync_io.h"

#include "opc/com/task_array.h"
#include "opc/items/item_object.h"
#include "opc/values/call_limits.h"
#include "opc/values/item_value.h"
#include "opc_error.h"

HRESULT SyncIOPart::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                         OPCITEMSTATE** ppItemValues, HRESULT** ppErrors)
{
    if (!ppItemValues || !ppErrors) return E_INVALIDARG;
    *ppItemValues = nullptr;
    *ppErrors = nullptr;
    if (!phServer || dwCount > kMaxListEntries) return E_INVALIDARG;
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

HRESULT SyncIOPart::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge,
                               VARIANT** ppvValues, WORD** ppwQualities, FILETIME** ppftTimeStamps,
                               HRESULT** ppErrors)
{
    if (ppvValues) *ppvValues = nullptr;
    if (ppwQualities) *ppwQualities = nullptr;
    if (ppftTimeStamps) *ppftTimeStamps = nullptr;
    if (ppErrors) *ppErrors = nullptr;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !pdwMaxAge || !ppvValues ||
        !ppwQualities || !ppftTimeStamps || !ppErrors) {
        return E_INVALIDARG;
    }
    TaskArray<VARIANT> values = AllocateTaskArray<VARIANT>(dwCount);
    TaskArray<WORD> qualities = AllocateTaskArray<WORD>(dwCount);
    TaskArray<FILETIME> timestamps = AllocateTaskArray<FILETIME>(dwCount);
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    if (!values || !qualities || !timestamps || !errors) return E_OUTOFMEMORY;

    const ItemTable& items = owner().Items();
    const unsigned long long cachedAt = owner().CachedItemsAt();
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        VariantInit(&values[i]);
        qualities[i] = OPC_QUALITY_BAD;
        timestamps[i] = FILETIME{};
        ItemObject* item = items.Find(phServer[i]);
        errors[i] = item ? item->ReadMaxAge(pdwMaxAge[i], cachedAt, &values[i], &qualities[i],
                                            &timestamps[i])
                         : OPC_E_INVALIDHANDLE;
        if (errors[i] != S_OK) result = S_FALSE;
    }
    *ppvValues = values.release();
    *ppwQualities = qualities.release();
    *ppftTimeStamps = timestamps.release();
    *ppErrors = errors.release();
    return result;
}

HRESULT SyncIOPart::WriteItems(DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                               const OPCITEMVQT* vqts, HRESULT* errors) const
{
    HRESULT result = S_OK;
    const ItemTable& items = owner().Items();
    for (DWORD i = 0; i < count; ++i) {
        ItemObject* item = items.Find(handles[i]);
        errors[i] = item ? S_OK : OPC_E_INVALIDHANDLE;
        if (item && vqts) errors[i] = VqtWritable(vqts[i]);
        if (errors[i] == S_OK) errors[i] = item->Write(values ? values[i] : vqts[i].vDataValue);
        if (errors[i] != S_OK) result = S_FALSE;
    }
    return result;
}

HRESULT SyncIOPart::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                          HRESULT** ppErrors)
{
    if (!ppErrors) return E_INVALIDARG;
    *ppErrors = nullptr;
    if (!phServer || !pItemValues || dwCount > kMaxListEntries) return E_INVALIDARG;
    // Values reach the tags only through the update passes: a group out of its server's table
    // would take a write and never deliver it.
    if (!owner().InServerTable()) return CO_E_OBJNOTCONNECTED;
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    if (!errors) return E_OUTOFMEMORY;
    // The DA 1.0 answer is S_OK, whatever each item's.
    WriteItems(dwCount, phServer, pItemValues, nullptr, errors.get());
    *ppErrors = errors.release();
    return S_OK;
}

HRESULT SyncIOPart::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
                             HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !pItemVQT || !ppErrors)
        return E_INVALIDARG;
    if (!owner().InServerTable()) return CO_E_OBJNOTCONNECTED;
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    if (!errors) return E_OUTOFMEMORY;
    const HRESULT result = WriteItems(dwCount, phServer, nullptr, pItemVQT, errors.get());
    *ppErrors = errors.release();
    return result;
}
