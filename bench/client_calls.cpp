#include "bench/client_calls.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

void FreeResults(DWORD count, OPCITEMRESULT* results, HRESULT* errors)
{
    if (results) {
        for (DWORD i = 0; i < count; ++i) CoTaskMemFree(results[i].pBlob);
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
}

bool EnumerateAttributes(IOPCItemMgt* items, ULONG count)
{
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumOPCItemAttributes> attributes;
    if (FAILED(items->CreateEnumerator(IID_IEnumOPCItemAttributes, unknown.GetAddressOf())) ||
        FAILED(unknown.As(&attributes))) {
        return false;
    }
    OPCITEMATTRIBUTES* records = nullptr;
    ULONG fetched = 0;
    const HRESULT hr = attributes->Next(count, &records, &fetched);
    for (ULONG i = 0; records && i < fetched; ++i) {
        CoTaskMemFree(records[i].szAccessPath);
        CoTaskMemFree(records[i].szItemID);
        CoTaskMemFree(records[i].pBlob);
        VariantClear(&records[i].vEUInfo);
    }
    CoTaskMemFree(records);
    return SUCCEEDED(hr);
}

bool ReadValues(IOPCSyncIO* io, std::vector<OPCHANDLE>& handles)
{
    const DWORD count = static_cast<DWORD>(handles.size());
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = io->Read(OPC_DS_CACHE, count, handles.data(), &states, &errors);
    for (DWORD i = 0; states && i < count; ++i) VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return SUCCEEDED(hr);
}
