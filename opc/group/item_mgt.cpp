#include "opc/group/item_mgt.h"

#include <new>

#include "opc/com/global_lock.h"
#include "opc/com/task_array.h"
#include "opc/group/item_attribute_enumerator.h"
#include "opc/items/item_object.h"
#include "opc/values/call_limits.h"
#include "opc/values/item_value.h"
#include "opc_error.h"

namespace {

// The shape of RemoveItems, SetActiveState, SetClientHandles and SetDatatypes: one error per
// handle, OPC_E_INVALIDHANDLE for a handle without an item, `change(item, i)` for the others.
template <class Change>
HRESULT ForEachHandle(ItemTable& items, DWORD dwCount, const OPCHANDLE* phServer,
                      HRESULT** ppErrors, Change change)
{
    if (!ppErrors) return E_INVALIDARG;
    *ppErrors = nullptr;
    if (!phServer || dwCount > kMaxListEntries) return E_INVALIDARG;
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    if (!errors) return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        ItemObject* item = items.Find(phServer[i]);
        if (item) {
            change(*item, i);
            errors[i] = S_OK;
        } else {
            errors[i] = OPC_E_INVALIDHANDLE;
            result = S_FALSE;
        }
    }
    *ppErrors = errors.release();
    return result;
}

}  // namespace

HRESULT ItemMgtPart::MakeItems(DWORD dwCount, const OPCITEMDEF* pItemArray, bool keep,
                               OPCITEMRESULT** ppResults, HRESULT** ppErrors)
{
    if (!pItemArray || !ppResults || !ppErrors) return E_INVALIDARG;
    *ppResults = nullptr;
    *ppErrors = nullptr;
    if (dwCount > kMaxListEntries) return E_INVALIDARG;
    TaskArray<OPCITEMRESULT> results = AllocateTaskArray<OPCITEMRESULT>(dwCount);
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    if (!results || !errors) return E_OUTOFMEMORY;

    ItemTable& items = owner().Items();
    // Every item of one call is stamped with the call's time: the clock is read once, not once
    // an item (a reading costs as much as a quarter of an item).
    const FILETIME now = CurrentUtcTime();
    HRESULT overall = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        results[i] = OPCITEMRESULT{};
        HRESULT hr = E_OUTOFMEMORY;
        const int slot = items.LowestFreeSlot();
        ItemObject* item = slot < 0 ? nullptr : new (std::nothrow) ItemObject;
        if (item) {
            item->AddRef();
            OPCITEMRESULT made{};
            hr = item->Initialize(pItemArray[i], static_cast<OPCHANDLE>(slot), now, made);
            if (SUCCEEDED(hr)) results[i] = made;
            if (SUCCEEDED(hr) && keep) {
                items.Place(slot, item);  // the table keeps this reference
            } else {
                item->Release();
            }
        }
        errors[i] = hr;
        if (hr != S_OK) overall = S_FALSE;
    }
    *ppResults = results.release();
    *ppErrors = errors.release();
    return overall;
}

HRESULT ItemMgtPart::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                              HRESULT** ppErrors)
{
    return MakeItems(dwCount, pItemArray, true, ppAddResults, ppErrors);
}

HRESULT ItemMgtPart::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL /*bBlobUpdate*/,
                                   OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors)
{
    return MakeItems(dwCount, pItemArray, false, ppValidationResults, ppErrors);
}

HRESULT ItemMgtPart::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors)
{
    ItemTable& items = owner().Items();
    // Never in the middle of an update pass over these items.
    GlobalLockScope lock;
    return ForEachHandle(items, dwCount, phServer, ppErrors,
                         [this, &items](ItemObject& item, DWORD) {
                             // A pending IOPCAsyncIO request must not reach the slot once it
                             // is free; IOPCAsyncIO2's tell the items by their serials.
                             owner().Requests().ForgetItem(item.ServerHandle());
                             items.Remove(item.ServerHandle());
                         });
}

HRESULT ItemMgtPart::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                    HRESULT** ppErrors)
{
    return ForEachHandle(owner().Items(), dwCount, phServer, ppErrors,
                         [bActive](ItemObject& item, DWORD) { item.SetActive(bActive); });
}

HRESULT ItemMgtPart::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                      HRESULT** ppErrors)
{
    if (!phClient) {
        if (ppErrors) *ppErrors = nullptr;
        return E_INVALIDARG;
    }
    return ForEachHandle(
        owner().Items(), dwCount, phServer, ppErrors,
        [phClient](ItemObject& item, DWORD i) { item.SetClientHandle(phClient[i]); });
}

HRESULT ItemMgtPart::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                  HRESULT** ppErrors)
{
    if (!pRequestedDatatypes) {
        if (ppErrors) *ppErrors = nullptr;
        return E_INVALIDARG;
    }
    // Any type is taken; one that cannot be produced shows as the item's error at read time.
    return ForEachHandle(owner().Items(), dwCount, phServer, ppErrors,
                         [pRequestedDatatypes](ItemObject& item, DWORD i) {
                             item.SetRequestedType(pRequestedDatatypes[i]);
                         });
}

HRESULT ItemMgtPart::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    if (riid != IID_IEnumOPCItemAttributes) return E_INVALIDARG;
    return CreateItemAttributeEnumerator(owner(), riid, reinterpret_cast<void**>(ppUnk));
}
