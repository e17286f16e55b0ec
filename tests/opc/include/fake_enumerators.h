// The fake server's enumerators: IEnumString, IEnumUnknown and IEnumOPCItemAttributes over
// snapshots taken when they are made.
#pragma once

#include "fake_com_object.h"
#include "opc_da.h"

#include <wrl/client.h>

#include <string>
#include <vector>

namespace fake {

// An item as the fake group keeps it.
struct Item {
    std::wstring accessPath;
    std::wstring itemId;
    BOOL active = FALSE;
    OPCHANDLE hClient = 0;
    OPCHANDLE hServer = 0;
    std::vector<BYTE> blob;
    VARTYPE requestedType = VT_EMPTY;
    VARTYPE canonicalType = VT_EMPTY;
};

HRESULT make_string_enumerator(std::vector<std::wstring> strings, IEnumString** ppEnum);
HRESULT make_unknown_enumerator(std::vector<Microsoft::WRL::ComPtr<IUnknown>> objects, REFIID riid,
                                void** ppEnum);
HRESULT make_item_attributes_enumerator(std::vector<Item> items, REFIID riid, void** ppEnum);

}  // namespace fake
