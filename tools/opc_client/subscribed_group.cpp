#include "subscribed_group.h"

#include <algorithm>

#include "client_session.h"
#include "console_output.h"

HRESULT SubscribedGroup::Create(ClientSession& session, const std::vector<std::wstring>& itemIds,
                                DWORD rateMs, const std::vector<StreamKind>& kinds)
{
    HRESULT hr = m_group.Create(session.Server());
    if (FAILED(hr)) return hr;
    Microsoft::WRL::ComPtr<IOPCGroupStateMgt> state;
    hr = m_group.Io()->QueryInterface(IID_PPV_ARGS(&state));
    if (FAILED(hr)) return hr;
    DWORD revised = 0;
    hr = state->SetState(&rateMs, &revised, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    hr = m_group.AddItems(itemIds, VT_EMPTY);
    if (FAILED(hr)) return hr;
    for (const ClientGroup::Item& item : m_group.Items()) {
        if (FAILED(item.error)) {
            PrintLine(item.itemId + L": " + session.ErrorText(item.error));
            return item.error;
        }
    }
    for (size_t i = 0; i < m_group.Items().size(); ++i) {
        PrintLine(L"item " + std::to_wstring(i) + L" = " + m_group.Items()[i].itemId);
    }
    PrintLine(L"update rate " + std::to_wstring(revised) + L" ms");
    return m_connections.Connect(m_group.Io(), m_sink.Get(), kinds);
}

std::vector<OPCHANDLE> SubscribedGroup::ServerHandles() const
{
    std::vector<OPCHANDLE> handles;
    for (const ClientGroup::Item& item : m_group.Items()) handles.push_back(item.serverHandle);
    return handles;
}

bool SubscribedGroup::WaitForTransaction(DWORD transactionId, DWORD timeoutMs) const
{
    const PrintingSink& sink = *m_sink.Get();
    return PumpUntil(
        [&sink, transactionId] {
            const std::vector<DWORD>& seen = sink.Transactions();
            return std::find(seen.begin(), seen.end(), transactionId) != seen.end();
        },
        timeoutMs);
}
