#include "subscribed_group.h"

#include <algorithm>

HRESULT SubscribedGroup::Create(ClientSession& session, const std::vector<std::wstring>& itemIds,
                                DWORD rateMs, const std::vector<StreamKind>& kinds)
{
    const HRESULT hr = m_group.CreateWithItems(session, itemIds, rateMs);
    if (FAILED(hr)) return hr;
    return m_connections.Connect(m_group.Io(), m_sink.Get(), kinds);
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
