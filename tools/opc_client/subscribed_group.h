#pragma once
// A command's own group of items with the client's printing sink connected to some of its
// stream formats; the connections are undone before the group goes.
#include <windows.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "advise_sink.h"
#include "client_group.h"

class ClientSession;

class SubscribedGroup {
public:
    SubscribedGroup() : m_sink(PrintingSink::Create()) {}

    // Creates the group with `rateMs`, adds the items and connects the sink for `kinds`.
    // Items the server refuses are printed; the first refusal is returned.
    HRESULT Create(ClientSession& session, const std::vector<std::wstring>& itemIds, DWORD rateMs,
                   const std::vector<StreamKind>& kinds);

    // The server handles of the items, in the order given.
    std::vector<OPCHANDLE> ServerHandles() const { return m_group.ServerHandles(); }
    IOPCSyncIO* Io() const { return m_group.Io(); }
    PrintingSink& Sink() const { return *m_sink.Get(); }
    // Waits, handling the server's callbacks, until a stream with this transaction ID came.
    bool WaitForTransaction(DWORD transactionId, DWORD timeoutMs) const;

private:
    ClientGroup m_group;
    Microsoft::WRL::ComPtr<PrintingSink> m_sink;
    AdviseConnections m_connections;  // undone first: declared last
};
