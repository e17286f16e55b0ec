#include "opc/group/item_deadband_mgt.h"

#include "opc/com/global_lock.h"
#include "opc/com/task_array.h"
#include "opc/values/call_limits.h"
#include "opc_error.h"

HRESULT ItemDeadbandMgtPart::ItemErrors(DWORD count, const OPCHANDLE* handles,
                                        const FLOAT* deadbands, HRESULT** ppErrors) const
{
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(count);
    if (!errors) return E_OUTOFMEMORY;
    GlobalLockScope lock;
    const ItemTable& items = owner().Items();
    for (DWORD i = 0; i < count; ++i) {
        if (!items.Find(handles[i])) {
            errors[i] = OPC_E_INVALIDHANDLE;
        } else if (deadbands && !(deadbands[i] >= 0.0f && deadbands[i] <= 100.0f)) {
            errors[i] = E_INVALIDARG;  // NaN too
        } else {
            errors[i] = OPC_E_DEADBANDNOTSUPPORTED;
        }
    }
    *ppErrors = errors.release();
    // Every item answers an error.
    return S_FALSE;
}

HRESULT ItemDeadbandMgtPart::SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                             FLOAT* pPercentDeadband, HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !pPercentDeadband || !ppErrors)
        return E_INVALIDARG;
    return ItemErrors(dwCount, phServer, pPercentDeadband, ppErrors);
}

HRESULT ItemDeadbandMgtPart::GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                             FLOAT** ppPercentDeadband, HRESULT** ppErrors)
{
    if (ppPercentDeadband) *ppPercentDeadband = nullptr;
    if (ppErrors) *ppErrors = nullptr;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !ppPercentDeadband || !ppErrors)
        return E_INVALIDARG;
    TaskArray<FLOAT> deadbands = AllocateTaskArray<FLOAT>(dwCount);
    if (!deadbands) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < dwCount; ++i) deadbands[i] = 0.0f;
    const HRESULT result = ItemErrors(dwCount, phServer, nullptr, ppErrors);
    if (FAILED(result)) return result;
    *ppPercentDeadband = deadbands.release();
    return result;
}

HRESULT ItemDeadbandMgtPart::ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                               HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !ppErrors) return E_INVALIDARG;
    return ItemErrors(dwCount, phServer, nullptr, ppErrors);
}
