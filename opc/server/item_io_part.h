#pragma once
#include "opc/com/interface_part.h"
#include "opc_da.h"

class ServerObject;

// IOPCItemIO of a server object: reads and writes of tags by item ID, without a group. Per
// item, OPC_E_INVALIDITEMID or OPC_E_UNKNOWNITEMID for an ID that names no tag; the call
// answers S_FALSE when any item failed.
class ItemIoPart final : public InterfacePart<IOPCItemIO, ServerObject> {
public:
    using InterfacePart::InterfacePart;

    // Each tag's value in its canonical type no older than the item's max age
    // (TagValueWithinMaxAge), its quality and the time of that value: the mirror's with the time
    // the mirror took it (as item property 4 gives it), the tag record's with the time of the read.
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge,
                                   VARIANT** ppvValues, WORD** ppwQualities,
                                   FILETIME** ppftTimeStamps, HRESULT** ppErrors) override;
    // Each value goes into its tag's mirror entry as an item's write does, and the next poll
    // cycle takes it to the tag record. Per item, before anything is written:
    // OPC_E_NOTSUPPORTED for a quality or timestamp (VqtWritable), then the answers of
    // ValueForTagWrite (the Viewer gone, a write-inhibited tag, a value out of range or of a
    // type that does not convert).
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT,
                                       HRESULT** ppErrors) override;
};
