#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "opc_da.h"

// A group of one command on the session's server object, with the items that command names.
class ClientGroup {
public:
    struct Item {
        std::wstring itemId;
        HRESULT error;
        OPCHANDLE serverHandle;
        VARTYPE canonicalType;
    };

    // Adds an active group with a name of its own, so that groups of several commands never clash.
    HRESULT Create(IOPCServer* server);
    // Adds one active item per ID, each to be delivered as `requestedType`.
    HRESULT AddItems(const std::vector<std::wstring>& itemIds, VARTYPE requestedType);

    const std::vector<Item>& Items() const { return m_items; }
    IOPCSyncIO* Io() const { return m_io.Get(); }

private:
    Microsoft::WRL::ComPtr<IOPCItemMgt> m_itemMgt;
    Microsoft::WRL::ComPtr<IOPCSyncIO> m_io;
    std::vector<Item> m_items;
};
