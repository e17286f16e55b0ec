#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "opc_da.h"

// One connection of the client to an OPC server: the server object it created through COM.
// Everything a run's commands do happens on this one server object, so groups added by one
// command are there for the next and go away with the session.
class ClientSession {
public:
    // Creates the server named by `server`: a ProgID or a "{CLSID}".
    HRESULT Connect(const std::wstring& server);

    IOPCServer* Server() const { return m_server.Get(); }

    // A text for `code` with the code in hexadecimal: the server's GetErrorString when it
    // answers, else our own description.
    std::wstring ErrorText(HRESULT code) const;
    // Prints the per-item errors of a request, each after its item ID; the first failure, or
    // S_OK.
    HRESULT CheckItemErrors(const std::vector<std::wstring>& itemIds, const HRESULT* errors) const;

private:
    Microsoft::WRL::ComPtr<IOPCServer> m_server;
};
