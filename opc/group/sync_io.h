#pragma once
#include "opc/com/interface_part.h"
#include "opc/group/group_object.h"
#include "opc_da.h"

// IOPCSyncIO of a group: reads and writes of its items' values, answered from the items alone.
class SyncIOPart final : public InterfacePart<IOPCSyncIO, GroupObject> {
public:
    using InterfacePart::InterfacePart;

    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    HRESULT** ppErrors) override;
};
