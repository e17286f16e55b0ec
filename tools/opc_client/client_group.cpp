#include "client_group.h"

#include <memory>

#include "client_session.h"
#include "console_output.h"
#include "task_block.h"

using Microsoft::WRL::ComPtr;

HRESULT ClientGroup::Create(IOPCServer* server)
{
    // A name of the run's own: the proxy refuses a null name.
    static int groupsMade = 0;
    const std::wstring name = L"opcclient " + std::to_wstring(++groupsMade);
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    const HRESULT hr = server->AddGroup(
        name.c_str(), TRUE, 1000, 0, nullptr, nullptr, LOCALE_SYSTEM_DEFAULT, &handle, &revised,
        IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(m_itemMgt.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) return hr;
    return m_itemMgt.As(&m_io);
}

HRESULT ClientGroup::AddItems(const std::vector<std::wstring>& itemIds, VARTYPE requestedType)
{
    std::vector<OPCITEMDEF> definitions;
    for (size_t i = 0; i < itemIds.size(); ++i) {
        OPCITEMDEF definition{};
        definition.szAccessPath = const_cast<LPWSTR>(L"");
        definition.szItemID = const_cast<LPWSTR>(itemIds[i].c_str());
        definition.bActive = TRUE;
        definition.hClient = static_cast<OPCHANDLE>(i);
        definition.vtRequestedDataType = requestedType;
        definitions.push_back(definition);
    }
    OPCITEMRESULT* rawResults = nullptr;
    HRESULT* rawErrors = nullptr;
    const HRESULT hr = m_itemMgt->AddItems(static_cast<DWORD>(definitions.size()),
                                           definitions.data(), &rawResults, &rawErrors);
    TaskBlock<OPCITEMRESULT> results(rawResults);
    TaskBlock<HRESULT> errors(rawErrors);
    if (FAILED(hr)) return hr;
    m_items.clear();
    for (size_t i = 0; i < itemIds.size(); ++i) {
        const OPCITEMRESULT& result = results.get()[i];
        // No blob is asked for, but one handed out is the client's to free.
        CoTaskMemFree(result.pBlob);
        m_items.push_back(
            Item{itemIds[i], errors.get()[i], result.hServer, result.vtCanonicalDataType});
    }
    return hr;
}

HRESULT ClientGroup::CreateWithItems(ClientSession& session,
                                     const std::vector<std::wstring>& itemIds, DWORD rateMs)
{
    HRESULT hr = Create(session.Server());
    if (FAILED(hr)) return hr;
    Microsoft::WRL::ComPtr<IOPCGroupStateMgt> state;
    hr = m_io.As(&state);
    if (FAILED(hr)) return hr;
    DWORD revised = 0;
    hr = state->SetState(&rateMs, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    hr = AddItems(itemIds, VT_EMPTY);
    if (FAILED(hr)) return hr;
    for (const Item& item : m_items) {
        if (FAILED(item.error)) {
            PrintLine(item.itemId + L": " + session.ErrorText(item.error));
            return item.error;
        }
    }
    for (size_t i = 0; i < m_items.size(); ++i) {
        PrintLine(L"item " + std::to_wstring(i) + L" = " + m_items[i].itemId);
    }
    PrintLine(L"update rate " + std::to_wstring(revised) + L" ms");
    return S_OK;
}

std::vector<OPCHANDLE> ClientGroup::ServerHandles() const
{
    std::vector<OPCHANDLE> handles;
    for (const Item& item : m_items) handles.push_back(item.serverHandle);
    return handles;
}
