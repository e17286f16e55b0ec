#include "callback_group.h"

#include <algorithm>

#include "message_pump.h"

HRESULT CallbackGroup::Create(ClientSession& session, const std::vector<std::wstring>& itemIds,
                              DWORD rateMs)
{
    HRESULT hr = m_group.CreateWithItems(session, itemIds, rateMs);
    if (SUCCEEDED(hr)) hr = m_group.Io()->QueryInterface(IID_PPV_ARGS(&m_io));
    if (FAILED(hr)) return hr;
    return m_connection.Connect(m_io.Get(), IID_IOPCDataCallback, m_callback.Get());
}

bool CallbackGroup::WaitForTransaction(DWORD transactionId, DWORD timeoutMs) const
{
    const PrintingCallback& callback = *m_callback.Get();
    return PumpUntil(
        [&callback, transactionId] {
            const std::vector<DWORD>& seen = callback.Transactions();
            return std::find(seen.begin(), seen.end(), transactionId) != seen.end();
        },
        timeoutMs);
}
