// COM started once per test program as the server program starts it, and short ways to make
// server objects and groups through the real class factory.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "opc_da.h"

using Microsoft::WRL::ComPtr;

// The object's reference count, observed through AddRef and Release.
LONG RefCount(IUnknown* object);

// The server's limits set for one test, the defaults back at its end.
class ScopedServerCapacity {
public:
    ScopedServerCapacity(DWORD maxClients, DWORD maxGroupsPerClient);
    ~ScopedServerCapacity();
    ScopedServerCapacity(const ScopedServerCapacity&) = delete;
    ScopedServerCapacity& operator=(const ScopedServerCapacity&) = delete;
};

// A new server object from the class factory, as its IOPCServer.
ComPtr<IOPCServer> NewServer();

// Adds a group named `name` (null: named after its slot) with rate 1000, active, client handle
// 7, and returns its IOPCGroupStateMgt; `handle` receives its server handle.
ComPtr<IOPCGroupStateMgt> AddGroup(IOPCServer* server, const wchar_t* name,
                                   OPCHANDLE* handle = nullptr);

// Adds the active item `itemId` to `group`; the item must be accepted.
void AddActiveItem(IUnknown* group, const wchar_t* itemId);

// A process that has run to its end, as a client that died; the handle keeps its id from
// being reused.
HANDLE EndedProcess();

// Everything GetState reports about a group.
struct GroupStateView {
    DWORD rate = 0;
    BOOL active = FALSE;
    std::wstring name;  // "(null)" when GetState handed out no name
    LONG timeBias = 0;
    FLOAT deadband = 0.0f;
    DWORD lcid = 0;
    OPCHANDLE client = 0;
    OPCHANDLE server = 0;
};
GroupStateView StateOf(IOPCGroupStateMgt* group);
