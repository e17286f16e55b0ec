// A group as the end-to-end clients make one on the running server: active, 1000 ms, with
// active items whose client handles are 1, 2, ... in the order named.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "opc_da.h"

// The group's server handle goes to `serverHandle` when given.
Microsoft::WRL::ComPtr<IOPCItemMgt> AddClientGroup(IOPCServer& server, const wchar_t* name,
                                                   OPCHANDLE clientHandle,
                                                   OPCHANDLE* serverHandle = nullptr);
// The items' server handles; every item must be accepted.
std::vector<OPCHANDLE> AddActiveItems(IOPCItemMgt& items, const std::vector<std::wstring>& itemIds);
