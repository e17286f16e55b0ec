#pragma once
#include "opc/com/interface_part.h"
#include "opc/group/group_object.h"
#include "opc_da.h"

// IOPCSyncIO and IOPCSyncIO2 of a group (one part answers both): reads and writes of its
// items' values. IOPCSyncIO's are answered from the items alone, S_OK whatever each item's
// error; IOPCSyncIO2's S_FALSE when any item failed.
class SyncIOPart final : public InterfacePart<IOPCSyncIO2, GroupObject> {
public:
    using InterfacePart::InterfacePart;

    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    HRESULT** ppErrors) override;
    // Each item as ItemObject::ReadMaxAge reads it.
    HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge,
                                         VARIANT** ppvValues, WORD** ppwQualities,
                                         FILETIME** ppftTimeStamps, HRESULT** ppErrors) override;
    // A value alone is written as Write writes it; an item whose quality or timestamp is given
    // is refused (VqtWritable) and nothing of it written.
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
                                       HRESULT** ppErrors) override;

private:
    // Write and WriteVQT: each item's error, the value of `values` or of `vqts`.
    HRESULT WriteItems(DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                       const OPCITEMVQT* vqts, HRESULT* errors) const;
};
