// COM started once per test program as the server program starts it, and short ways to make
// server objects and groups through the real class factory.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include "opc_da.h"

using Microsoft::WRL::ComPtr;

// The object's reference count, observed through AddRef and Release.
LONG RefCount(IUnknown* object);

// A new server object from the class factory, as its IOPCServer.
ComPtr<IOPCServer> NewServer();

// Adds a group named `name` (null: named after its slot) with rate 1000, active, client handle
// 7, and returns its IOPCGroupStateMgt; `handle` receives its server handle.
ComPtr<IOPCGroupStateMgt> AddGroup(IOPCServer* server, const wchar_t* name,
                                   OPCHANDLE* handle = nullptr);
