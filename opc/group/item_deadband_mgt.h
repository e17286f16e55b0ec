#pragma once
#include "opc/com/interface_part.h"
#include "opc/group/group_object.h"
#include "opc_da.h"

// IOPCItemDeadbandMgt of a group. A deadband applies only to items of an analog tag with an
// engineering-unit range, and no tag record carries one: every valid item answers
// OPC_E_DEADBANDNOTSUPPORTED, an unknown handle OPC_E_INVALIDHANDLE, and SetItemDeadband a
// deadband outside 0..100 E_INVALIDARG; S_FALSE overall when any item fails.
class ItemDeadbandMgtPart final : public InterfacePart<IOPCItemDeadbandMgt, GroupObject> {
public:
    using InterfacePart::InterfacePart;

    HRESULT STDMETHODCALLTYPE SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                              FLOAT* pPercentDeadband, HRESULT** ppErrors) override;
    // Each item's deadband is 0 (none set) beside its error.
    HRESULT STDMETHODCALLTYPE GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                              FLOAT** ppPercentDeadband,
                                              HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                                HRESULT** ppErrors) override;

private:
    // Each item's error into a new task array: its handle's, else `deadbands`' range (when
    // given), else OPC_E_DEADBANDNOTSUPPORTED.
    HRESULT ItemErrors(DWORD count, const OPCHANDLE* handles, const FLOAT* deadbands,
                       HRESULT** ppErrors) const;
};
