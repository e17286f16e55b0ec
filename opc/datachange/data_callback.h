#pragma once
// The IOPCDataCallback route of a group: the connection to the client's sink, the group's
// IOPCAsyncIO2 and the requests it queues for completion through that sink.
#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "opc/com/connection_point.h"
#include "opc/com/interface_part.h"
#include "opc/datachange/client_delivery.h"
#include "opc/datachange/delivery_group.h"
#include "opc/datachange/sink_calls.h"
#include "opc_da.h"

// A group's IOPCDataCallback connection: its one connection point, the sink connected to it
// (reached through the client's delivery, or at once in the server's own apartment) and
// whether the update pass's data changes are enabled.
class DataCallback final : public SinkHolder {
public:
    DataCallback(DeliveryGroup& group, std::shared_ptr<ClientDelivery> delivery);
    DataCallback(const DataCallback&) = delete;
    DataCallback& operator=(const DataCallback&) = delete;

    ConnectionPoint& Point() { return m_point; }
    // A sink is connected and was not found gone.
    bool Connected() const { return m_sink.Connected(); }
    // Hands the call to the connected sink; with none connected it is dropped.
    void Deliver(std::unique_ptr<DataCallbackCall> call)
    {
        m_sentSinceLastLook = true;
        m_sink.Send(std::move(call));
    }

    // IOPCGroupStateMgt2's keep-alive time in ms, 0 for none; the quiet time counts afresh.
    void SetKeepAlive(DWORD keepAliveMs)
    {
        m_keepAliveMs = keepAliveMs;
        m_quietSinceMs = 0;
    }
    DWORD KeepAlive() const { return m_keepAliveMs; }
    // Each update pass's last step, at the pass's time in ms: while the group sends data
    // changes (`sending`: active and enabled) and nothing went to the sink for the keep-alive
    // time, the sink gets the keep-alive, a data change of no items for the group `hGroup`.
    // The quiet time starts at the pass that made a call, or that first finds the group
    // sending after a connection, a new keep-alive time, or a time of not sending. Half a poll
    // period is allowed for the timer's jitter: the time is a whole number of periods.
    void SendKeepAliveWhenQuiet(unsigned long long passMs, int32_t pollPeriodMs, bool sending,
                                OPCHANDLE hGroup);

    // Whether a sink was connected since the last look: it is owed every active item at the
    // next pass, not only when the group's period expires.
    bool TakeNewSink()
    {
        const bool newSink = m_newSink;
        m_newSink = false;
        return newSink;
    }

    // IOPCAsyncIO2::SetEnable: the update pass's data changes go out only while enabled.
    bool enabled = true;

private:
    // A newly connected sink is owed every active item.
    HRESULT TakeSink(Microsoft::WRL::ComPtr<IUnknown> sink) override;
    void DropSink() override { m_sink.Disconnect(); }
    bool SinkGone() const override { return m_sink.Gone(); }
    Microsoft::WRL::ComPtr<IUnknown> ListedSink() const override { return m_sink.Direct(); }

    DeliveryGroup& m_group;
    ConnectionPoint m_point;
    ClientSink m_sink;
    DWORD m_keepAliveMs = 0;
    unsigned long long m_quietSinceMs = 0;  // 0: from the next pass
    bool m_sentSinceLastLook = false;
    bool m_newSink = false;
};

// A group's queued IOPCAsyncIO2 requests, apart from IOPCAsyncIO's records: any number of
// reads, writes and refreshes, completed in the order they came through the group's data
// callback as soon as the call that made them has returned (AnswerPromptly), or by the next
// update pass. Each carries the client's transaction ID, echoed in its
// completion, and the cancel ID the group gave it.
enum class CallbackRequestKind { Read, Write, Refresh };

// An item as a request names it. Its completion carries OPC_E_INVALIDHANDLE, under the client
// handle it had at the request, when the item was removed meanwhile (its slot empty, or taken
// by another item).
struct RequestedItem {
    OPCHANDLE hServer = 0;
    OPCHANDLE hClient = 0;  // at the request
    uint64_t serial = 0;    // ItemObject::Serial
};

struct CallbackRequest {
    CallbackRequestKind kind = CallbackRequestKind::Read;
    DWORD transactionId = 0;  // the client's
    DWORD cancelId = 0;       // the group's, never 0
    DWORD source = OPC_DS_DEVICE;
    bool cancelled = false;             // completed with OnCancelComplete instead
    std::vector<RequestedItem> items;   // in the order the request gave them
    std::vector<HRESULT> writeResults;  // Write: each item's result, made at the call
    std::vector<DWORD> maxAges;         // ReadMaxAge, RefreshMaxAge: each item's; else empty
    RequestCharge charge;               // on the client's budget until answered
};

// About what the answer to a request of `items` items holds while it waits: the budget's
// measure of a request (ClientDelivery::Charge).
size_t RequestAnswerBytes(size_t items);

class CallbackRequests {
public:
    // Gives the request its cancel ID and queues it; 0 when memory is short (nothing queued).
    DWORD Queue(CallbackRequest request);
    // Marks the waiting request with that cancel ID cancelled; false when there is none.
    bool Cancel(DWORD cancelId);
    // The oldest waiting request, or null.
    const CallbackRequest* Oldest() const;
    void DropOldest() { m_requests.pop_front(); }
    // The request queued last; only while one waits.
    CallbackRequest& Newest() { return m_requests.back(); }
    bool Empty() const { return m_requests.empty(); }

private:
    std::deque<CallbackRequest> m_requests;
    DWORD m_lastCancelId = 0;
};

// IOPCAsyncIO2 and IOPCAsyncIO3 of a group (one part answers both): reads, writes and
// refreshes queued in the group's own CallbackRequests (IOPCAsyncIO's records are not
// touched), completed once the call has returned through the group's data callback, which must
// be connected when a request is made; Cancel2 reaches a request until then. The client's transaction ID comes back in the completion;
// the cancel ID is the group's. The maximum-age reads and refresh read each item as
// ItemObject::ReadMaxAge does when they complete; a VQT write carries a value alone
// (VqtWritable).
class AsyncIO3Part final : public InterfacePart<IOPCAsyncIO3, DeliveryGroup> {
public:
    using InterfacePart::InterfacePart;

    // Always from the device: every item's tag record is read when the request completes.
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                   DWORD* pdwCancelID, HRESULT** ppErrors) override;
    // The values are written at once, into their tags' mirror entries as an IOPCItemIO write
    // is; each item's result comes with OnWriteComplete.
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    DWORD dwTransactionID, DWORD* pdwCancelID,
                                    HRESULT** ppErrors) override;
    // Every active item of an active group, sent with OnDataChange; E_FAIL when there is none.
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                       DWORD* pdwCancelID) override;
    // E_FAIL for a cancel ID that names no waiting request.
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) override;
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) override;
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) override;
    HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge,
                                         DWORD dwTransactionID, DWORD* pdwCancelID,
                                         HRESULT** ppErrors) override;
    // An item whose quality or timestamp is given is refused (OPC_E_NOTSUPPORTED) and not
    // written; the others as Write.
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
                                       DWORD dwTransactionID, DWORD* pdwCancelID,
                                       HRESULT** ppErrors) override;
    // Refresh2's rules, each item read with the maximum age.
    HRESULT STDMETHODCALLTYPE RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID,
                                            DWORD* pdwCancelID) override;

private:
    // A read of either kind: `maxAges` null for IOPCAsyncIO2's device read.
    HRESULT QueueRead(DWORD count, const OPCHANDLE* handles, const DWORD* maxAges,
                      DWORD transactionId, DWORD* pdwCancelID, HRESULT** ppErrors);
    // A write of either kind: the values of `values`, or of `vqts` checked by VqtWritable.
    HRESULT QueueWrite(DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                       const OPCITEMVQT* vqts, DWORD transactionId, DWORD* pdwCancelID,
                       HRESULT** ppErrors);
    // A refresh of either kind: `maxAge` null for Refresh2's read from `source`.
    HRESULT QueueRefresh(DWORD source, const DWORD* maxAge, DWORD transactionId,
                         DWORD* pdwCancelID);
    // Up to the queueing: fills *ppErrors with each handle's validity (and, for a VQT write,
    // VqtWritable's answer) and `request.items` with the accepted ones; S_FALSE when some are
    // refused. The call's checks first: CO_E_OBJNOTCONNECTED for a group out of its server's
    // table, CONNECT_E_NOCONNECTION without a sink, OPC_SERVER_E_CALLBACKS_BACKLOGGED past the
    // client's budget.
    HRESULT CheckItems(DWORD count, const OPCHANDLE* handles, const OPCITEMVQT* vqts,
                       HRESULT** ppErrors, CallbackRequest& request);
    // Queues the checked request; `checked` is CheckItems' result, returned when it is queued.
    HRESULT QueueRequest(CallbackRequest request, HRESULT checked, DWORD* pdwCancelID);
};
