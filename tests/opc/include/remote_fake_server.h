// The fake OPC server in its own process: registered for the test run (class and proxy/stub
// DLL, through the registration code the product uses), started once by COM and shared by all
// tests of the program, which reach it through a proxy as any OPC client would.
#pragma once

#include "opc_da.h"

#include <wrl/client.h>

#include <string>

// The fake server's IOPCServer proxy; the test fails at set-up when it could not be created.
IOPCServer* remote_server();

// Adds a group named `name` with recognisable arguments and returns its state interface.
Microsoft::WRL::ComPtr<IOPCGroupStateMgt> add_remote_group(const wchar_t* name, OPCHANDLE* hServer);

// Everything IOPCGroupStateMgt::GetState reports; a failed call or a NULL name fails the test.
struct GroupStateSeen {
    DWORD rate = 0;
    BOOL active = FALSE;
    std::wstring name;
    LONG bias = 0;
    FLOAT deadband = 0;
    DWORD lcid = 0;
    OPCHANDLE hClient = 0;
    OPCHANDLE hServer = 0;
};
GroupStateSeen get_state(IOPCGroupStateMgt* group);
