#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>

#include "opc/com/connection_point_container_part.h"
#include "opc/com/heap_string.h"
#include "opc/com/reference_counted.h"
#include "opc/datachange/async_io.h"
#include "opc/datachange/data_callback.h"
#include "opc/datachange/delivery_group.h"
#include "opc/datachange/previous_streams.h"
#include "opc/group/client_session.h"
#include "opc/items/item_table.h"
#include "opc_da.h"

class DataObjectPart;
class GroupStateMgtPart;
class ItemDeadbandMgtPart;
class ItemMgtPart;
class SyncIOPart;

// A group's state as AddGroup, SetState, SetName and CloneGroup set it. Deadband, locale and
// time bias are only stored and reported.
struct GroupState {
    DWORD updateRate = 0;  // milliseconds
    FLOAT percentDeadband = 0.0f;
    DWORD locale = 0;
    LONG timeBias = 0;    // minutes
    BOOL active = FALSE;  // any non-zero value is active
    HeapString name;
    OPCHANDLE serverHandle = 0;  // the group's slot in its server's group table
    OPCHANDLE clientHandle = 0;
};

// The COM object a client gets from AddGroup or CloneGroup. Its interfaces other than IUnknown
// are interface parts, made on first request, that share its reference count. Its DA 2.0 side
// is IOPCAsyncIO2 and IConnectionPointContainer with one connection point, IOPCDataCallback's;
// its DA 3.0 side IOPCSyncIO2, IOPCAsyncIO3, IOPCGroupStateMgt2 and IOPCItemDeadbandMgt, each
// answered by the part of the interface it extends (the deadband's by a part of its own).
class GroupObject final : public ReferenceCounted<GroupObject, DeliveryGroup> {
public:
    // A new group of `session` with reference count 0; null when memory is short.
    static GroupObject* Create(const std::shared_ptr<ClientSession>& session);
    ~GroupObject();
    GroupObject(const GroupObject&) = delete;
    GroupObject& operator=(const GroupObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;

    // The server whose table the group was made for; null once that server is destroyed.
    GroupOwner* Owner() const { return m_session->owner; }
    const std::shared_ptr<ClientSession>& Session() const { return m_session; }

    // One update pass with the poll period and the poll cycle's time
    // (opc/datachange/update_pass.h).
    void RunUpdatePass(int32_t pollPeriodMs, const FILETIME& cycleTime);

    bool IsActive() const override { return state.active != FALSE; }
    OPCHANDLE ClientHandle() const override { return state.clientHandle; }
    DWORD UpdateRate() const override { return state.updateRate; }
    const DataObjectPart* DataObject() const override { return m_dataObjectPart.get(); }
    PendingRequests& Requests() override { return m_requests; }
    const PendingRequests& Requests() const override { return m_requests; }
    ItemTable& Items() override { return m_items; }
    const ItemTable& Items() const override { return m_items; }
    int32_t& UpdateCountdown() override { return m_updateCountdown; }
    unsigned long long& ItemsRefreshedAt() override { return m_itemsRefreshedAt; }
    PreviousStreams& LastDataChangeStreams() override { return m_lastDataChangeStreams; }
    const PreviousStreams& LastDataChangeStreams() const override
    {
        return m_lastDataChangeStreams;
    }
    DataCallback& Callback() override { return m_dataCallback; }
    CallbackRequests& CallbackQueue() override { return m_callbackRequests; }
    // The connection point container's one point.
    ConnectionPoint* OutgoingConnection() { return &m_dataCallback.Point(); }
    bool InServerTable() const override { return m_inServerTable; }
    RequestCharge ChargeRequest(size_t answerBytes) override
    {
        return m_session->delivery->Charge(answerBytes);
    }
    DWORD NextTransactionId() override { return Owner()->NextTransactionId(); }
    // The group has left its server's table, and with it the update passes, though its client
    // may still hold it: the writes its items hold go to their tags now, and every request it
    // accepted is answered, as the next pass would have done; later writes and asynchronous
    // requests are refused.
    void LeaveUpdatePasses();
    // Gives this group a copy of every item of `source`, under the same server handles.
    HRESULT CopyItemsFrom(const GroupObject& source);

    GroupState state;

private:
    explicit GroupObject(std::shared_ptr<ClientSession> session);

    std::shared_ptr<ClientSession> m_session;
    // Made at once and destroyed last: the sink it holds is let go after everything else.
    DataCallback m_dataCallback{*this, m_session->delivery};
    std::unique_ptr<GroupStateMgtPart> m_stateMgtPart;
    std::unique_ptr<SyncIOPart> m_syncIOPart;
    std::unique_ptr<AsyncIOPart> m_asyncIOPart;
    std::unique_ptr<ItemMgtPart> m_itemMgtPart;
    std::unique_ptr<DataObjectPart> m_dataObjectPart;
    std::unique_ptr<AsyncIO3Part> m_asyncIO3Part;
    std::unique_ptr<ItemDeadbandMgtPart> m_deadbandPart;
    std::unique_ptr<ConnectionPointContainerPart<GroupObject>> m_containerPart;
    CallbackRequests m_callbackRequests;
    ItemTable m_items;
    PreviousStreams m_lastDataChangeStreams;
    int32_t m_updateCountdown = 0;  // milliseconds; the period expires at 0 or less
    unsigned long long m_itemsRefreshedAt = 0;
    PendingRequests m_requests;
    bool m_inServerTable = true;  // placed by its maker at once
};
