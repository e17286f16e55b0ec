#pragma once
#include "opc/com/interface_part.h"
#include "opc/group/group_object.h"
#include "opc_da.h"

// IOPCGroupStateMgt of a group: its state, its name and its clone.
class GroupStateMgtPart final : public InterfacePart<IOPCGroupStateMgt, GroupObject> {
public:
    using InterfacePart::InterfacePart;

    HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                       OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override;
    HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                       BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                       DWORD* pLCID, OPCHANDLE* phClientGroup) override;
    HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
    HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
};

// The update rate a group keeps and the code its client is answered.
struct KeptUpdateRate {
    DWORD rateMs;
    HRESULT result;
};
// The rate kept for `requestedMs`, after rounding (SetState's) to `roundedMs`: never below the
// poll timer's period, since nothing is delivered faster than the poll cycle runs and clients
// size their waits by this rate. OPC_S_UNSUPPORTEDRATE when that floor makes the rate kept
// differ from the one asked for; S_OK otherwise, rounding included.
KeptUpdateRate DeliverableUpdateRate(DWORD requestedMs, DWORD roundedMs);

// A requested update rate rounded to the nearest multiple of 250 ms, exactly 125 rounding up;
// the addition wraps as unsigned 32-bit arithmetic does.
DWORD RoundUpdateRate(DWORD requestedMs);
