#pragma once
// A command's own group of items with the client's printing data callback connected through
// the group's connection point (OPC DA 2.0); the connection is undone before the group goes.
#include <windows.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "client_group.h"
#include "data_callback_sink.h"
#include "point_connection.h"

class ClientSession;

class CallbackGroup {
public:
    CallbackGroup() : m_callback(PrintingCallback::Create()) {}

    // Creates the group with `rateMs`, adds the items and connects the callback.
    HRESULT Create(ClientSession& session, const std::vector<std::wstring>& itemIds, DWORD rateMs);

    std::vector<OPCHANDLE> ServerHandles() const { return m_group.ServerHandles(); }
    IOPCAsyncIO2* Io() const { return m_io.Get(); }
    PrintingCallback& Callback() const { return *m_callback.Get(); }
    // Waits, handling the server's calls, until a call with this transaction ID came.
    bool WaitForTransaction(DWORD transactionId, DWORD timeoutMs) const;

private:
    ClientGroup m_group;
    Microsoft::WRL::ComPtr<IOPCAsyncIO2> m_io;
    Microsoft::WRL::ComPtr<PrintingCallback> m_callback;
    PointConnection m_connection;  // undone first: declared last
};
