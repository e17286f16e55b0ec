#pragma once
#include "opc/com/interface_part.h"
#include "opc/group/group_object.h"
#include "opc_da.h"

// IOPCGroupStateMgt and IOPCGroupStateMgt2 of a group (one part answers both): its state, its
// name, its clone and the keep-alive time of its data callback.
class GroupStateMgtPart final : public InterfacePart<IOPCGroupStateMgt2, GroupObject> {
public:
    using InterfacePart::InterfacePart;

    HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                       OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override;
    HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                       BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                       DWORD* pLCID, OPCHANDLE* phClientGroup) override;
    HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
    // The clone takes the state (keep-alive time included) and the items, inactive, with no
    // sink connected and a name of its own.
    HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    // 0 turns the keep-alive off; another time is revised to one the update pass keeps
    // (KeepAliveTimeKept).
    HRESULT STDMETHODCALLTYPE SetKeepAlive(DWORD dwKeepAliveTime,
                                           DWORD* pdwRevisedKeepAliveTime) override;
    HRESULT STDMETHODCALLTYPE GetKeepAlive(DWORD* pdwKeepAliveTime) override;
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

// The keep-alive time kept for `requestedMs` (not 0): the update pass looks at the quiet time
// once a poll cycle, so a whole number of poll periods, at least one, the nearest at or above
// the request (below it only where no multiple fits in 32 bits). OPC_S_UNSUPPORTEDRATE when
// it differs from the request.
KeptUpdateRate KeepAliveTimeKept(DWORD requestedMs);

// A requested update rate rounded to the nearest multiple of 250 ms, exactly 125 rounding up;
// the addition wraps as unsigned 32-bit arithmetic does.
DWORD RoundUpdateRate(DWORD requestedMs);
