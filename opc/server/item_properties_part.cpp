#include "opc/server/item_properties_part.h"

#include <iterator>

#include "opc/com/task_array.h"
#include "opc/server/server_object.h"
#include "opc/values/call_limits.h"
#include "opc/values/item_properties.h"
#include "opc_error.h"
#include "runtime_link/project_files.h"

namespace {

constexpr DWORD kPropertyCount = static_cast<DWORD>(std::size(kItemProperties));

// Frees the strings of a task-allocated string array whose first `count` entries are set.
void FreeStrings(LPWSTR* strings, DWORD count)
{
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(strings[i]);
}

}  // namespace

HRESULT ItemPropertiesPart::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                     DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                                     VARTYPE** ppvtDataTypes)
{
    if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_INVALIDARG;
    *pdwCount = 0;
    *ppPropertyIDs = nullptr;
    *ppDescriptions = nullptr;
    *ppvtDataTypes = nullptr;
    if (!szItemID) return E_INVALIDARG;
    int slot = 0;
    const HRESULT found = FindTagOfPropertyItem(szItemID, &slot);
    if (FAILED(found)) return found;

    TaskArray<DWORD> ids = AllocateTaskArray<DWORD>(kPropertyCount);
    TaskArray<LPWSTR> descriptions = AllocateTaskArray<LPWSTR>(kPropertyCount);
    TaskArray<VARTYPE> types = AllocateTaskArray<VARTYPE>(kPropertyCount);
    if (!ids || !descriptions || !types) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < kPropertyCount; ++i) {
        descriptions[i] = TaskStringCopy(kItemProperties[i].description);
        if (!descriptions[i]) {
            FreeStrings(descriptions.get(), i);
            return E_OUTOFMEMORY;
        }
        ids[i] = kItemProperties[i].id;
        types[i] = ItemPropertyType(slot, kItemProperties[i].id);
    }
    *pdwCount = kPropertyCount;
    *ppPropertyIDs = ids.release();
    *ppDescriptions = descriptions.release();
    *ppvtDataTypes = types.release();
    return S_OK;
}

HRESULT ItemPropertiesPart::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                              VARIANT** ppvData, HRESULT** ppErrors)
{
    if (!ppvData || !ppErrors) return E_INVALIDARG;
    *ppvData = nullptr;
    *ppErrors = nullptr;
    if (!szItemID || dwCount == 0 || dwCount > kMaxPropertyIds || !pdwPropertyIDs)
        return E_INVALIDARG;
    int slot = 0;
    const HRESULT found = FindTagOfPropertyItem(szItemID, &slot);
    if (FAILED(found)) return found;

    TaskArray<VARIANT> values = AllocateTaskArray<VARIANT>(dwCount);
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    if (!values || !errors) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < dwCount; ++i) VariantInit(&values[i]);
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        errors[i] = ItemPropertyValue(slot, pdwPropertyIDs[i], PollPeriod(), &values[i]);
        if (errors[i] == E_OUTOFMEMORY) {
            for (DWORD j = 0; j < i; ++j) VariantClear(&values[j]);
            return E_OUTOFMEMORY;
        }
        if (FAILED(errors[i])) result = S_FALSE;
    }
    *ppvData = values.release();
    *ppErrors = errors.release();
    return result;
}

HRESULT ItemPropertiesPart::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                          LPWSTR** ppszNewItemIDs, HRESULT** ppErrors)
{
    if (!ppszNewItemIDs || !ppErrors) return E_INVALIDARG;
    *ppszNewItemIDs = nullptr;
    *ppErrors = nullptr;
    if (!szItemID || dwCount == 0 || dwCount > kMaxPropertyIds || !pdwPropertyIDs)
        return E_INVALIDARG;
    int slot = 0;
    const HRESULT found = FindTagOfPropertyItem(szItemID, &slot);
    if (FAILED(found)) return found;

    TaskArray<LPWSTR> itemIds = AllocateTaskArray<LPWSTR>(dwCount);
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    if (!itemIds || !errors) return E_OUTOFMEMORY;
    // Properties 1 to 6 have no item IDs of their own, and no other property is offered.
    for (DWORD i = 0; i < dwCount; ++i) {
        itemIds[i] = nullptr;
        errors[i] = OPC_E_INVALID_PID;
    }
    *ppszNewItemIDs = itemIds.release();
    *ppErrors = errors.release();
    return S_FALSE;
}
