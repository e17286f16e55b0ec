#include "opc/server/item_io_part.h"

#include "opc/com/task_array.h"
#include "opc/server/server_object.h"
#include "opc/values/call_limits.h"
#include "opc/values/client_write.h"
#include "opc/values/item_properties.h"
#include "opc/values/item_value.h"
#include "opc/values/item_value_owner.h"
#include "opc_error.h"
#include "runtime_link/tag_mirror.h"

namespace {

// The value of one item of a WriteVQT in its tag's canonical type, into *converted, or the
// item's answer; nothing is written yet.
HRESULT WritableValue(const OPCITEMVQT& vqt, int slot, VARIANT* converted)
{
    const HRESULT writable = VqtWritable(vqt);
    if (FAILED(writable)) return writable;
    return ValueForTagWrite(vqt.vDataValue, CanonicalTypeOfKind(g_tagMirror[slot]->kind), slot,
                            converted);
}

}  // namespace

HRESULT ItemIoPart::Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues,
                         WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors)
{
    if (!ppvValues || !ppwQualities || !ppftTimeStamps || !ppErrors) return E_INVALIDARG;
    *ppvValues = nullptr;
    *ppwQualities = nullptr;
    *ppftTimeStamps = nullptr;
    *ppErrors = nullptr;
    if (dwCount == 0 || dwCount > kMaxListEntries || !pszItemIDs || !pdwMaxAge)
        return E_INVALIDARG;

    TaskArray<VARIANT> values = AllocateTaskArray<VARIANT>(dwCount);
    TaskArray<WORD> qualities = AllocateTaskArray<WORD>(dwCount);
    TaskArray<FILETIME> times = AllocateTaskArray<FILETIME>(dwCount);
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    if (!values || !qualities || !times || !errors) return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        VariantInit(&values[i]);
        qualities[i] = OPC_QUALITY_BAD;
        times[i] = FILETIME{};
        int slot = 0;
        errors[i] = FindTagOfPropertyItem(pszItemIDs[i], &slot);
        if (SUCCEEDED(errors[i]))
            errors[i] = TagValueWithinMaxAge(slot, pdwMaxAge[i], &values[i], &qualities[i],
                                             &times[i]);
        if (errors[i] == E_OUTOFMEMORY) {
            for (DWORD j = 0; j < i; ++j) VariantClear(&values[j]);
            return E_OUTOFMEMORY;
        }
        if (FAILED(errors[i])) result = S_FALSE;
    }
    *ppvValues = values.release();
    *ppwQualities = qualities.release();
    *ppftTimeStamps = times.release();
    *ppErrors = errors.release();
    return result;
}

HRESULT ItemIoPart::WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT,
                             HRESULT** ppErrors)
{
    if (!ppErrors) return E_INVALIDARG;
    *ppErrors = nullptr;
    if (dwCount == 0 || dwCount > kMaxListEntries || !pszItemIDs || !pItemVQT)
        return E_INVALIDARG;
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(dwCount);
    if (!errors) return E_OUTOFMEMORY;

    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        int slot = 0;
        VariantOwner converted;
        errors[i] = FindTagOfPropertyItem(pszItemIDs[i], &slot);
        if (SUCCEEDED(errors[i])) errors[i] = WritableValue(pItemVQT[i], slot, converted.Receive());
        if (FAILED(errors[i])) {
            result = S_FALSE;
            continue;
        }
        PostWriteToMirrorEntry(converted.get(), NextWriteSequence(), slot, *g_tagMirror[slot]);
    }
    *ppErrors = errors.release();
    return result;
}
