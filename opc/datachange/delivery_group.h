#pragma once
// What data-change delivery needs of its group. The group object implements it; the delivery
// parts, the streams and the update pass see their group only through it. Each call is made
// once per request or pass, never once per item: the items are reached directly in the table.
#include <windows.h>
#include <unknwn.h>

#include <cstdint>

#include "opc/datachange/client_delivery.h"
#include "opc/items/item_table.h"

class CallbackRequests;
class DataCallback;
class DataObjectPart;
struct PendingRequests;
class PreviousStreams;

class DeliveryGroup : public IUnknown {
public:
    // The group's active state; any non-zero value is active.
    virtual bool IsActive() const = 0;
    virtual OPCHANDLE ClientHandle() const = 0;
    // Milliseconds.
    virtual DWORD UpdateRate() const = 0;
    virtual ItemTable& Items() = 0;
    virtual const ItemTable& Items() const = 0;
    virtual PendingRequests& Requests() = 0;
    virtual const PendingRequests& Requests() const = 0;
    // The IDataObject part with the client's advise sinks; null until a client asks for it.
    virtual const DataObjectPart* DataObject() const = 0;
    // The IOPCDataCallback connection and the IOPCAsyncIO2 requests waiting for it.
    virtual DataCallback& Callback() = 0;
    virtual CallbackRequests& CallbackQueue() = 0;
    // The group's last data-change streams, kept for the next period.
    virtual PreviousStreams& LastDataChangeStreams() = 0;
    virtual const PreviousStreams& LastDataChangeStreams() const = 0;
    // Milliseconds left of the update period; the period expires at 0 or less.
    virtual int32_t& UpdateCountdown() = 0;
    // When the last expired period refreshed the items (GetTickCount64); 0 before the first.
    // An active item of an active group holds that pass's value, and is as old as it.
    virtual unsigned long long& ItemsRefreshedAt() = 0;
    // The age of value a read with a maximum age finds in the group's items: when they were
    // refreshed while the group is active, 0 (no value kept) while it is not.
    unsigned long long CachedItemsAt() { return IsActive() ? ItemsRefreshedAt() : 0; }
    // A charge on the client's budget for a new asynchronous request whose answer takes about
    // `answerBytes`; empty when the budget cannot take it: the request is refused.
    virtual RequestCharge ChargeRequest(size_t answerBytes) = 0;
    // False once the group has left its server's table (removed, or its server object
    // destroyed): no update pass will complete a request or post a write of it any more.
    virtual bool InServerTable() const = 0;
    // The next asynchronous transaction ID of the group's server, shared by all its groups;
    // never 0. Only while InServerTable().
    virtual DWORD NextTransactionId() = 0;

protected:
    ~DeliveryGroup() = default;
};
