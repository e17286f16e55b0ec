#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "opc_da.h"

class ClientSession;

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
    // Creates the group with `rateMs` and adds the items in their own types, printing each
    // item's client handle and the revised rate; the first item refused is printed and
    // returned.
    HRESULT CreateWithItems(ClientSession& session, const std::vector<std::wstring>& itemIds,
                            DWORD rateMs);

    const std::vector<Item>& Items() const { return m_items; }
    IOPCSyncIO* Io() const { return m_io.Get(); }
    // The server handles of the items, in the order given.
    std::vector<OPCHANDLE> ServerHandles() const;

private:
    Microsoft::WRL::ComPtr<IOPCItemMgt> m_itemMgt;
    Microsoft::WRL::ComPtr<IOPCSyncIO> m_io;
    std::vector<Item> m_items;
};
