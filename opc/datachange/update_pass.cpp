// The group's part of every poll cycle: its update countdown, the refresh of its items from
// the tag mirror, its data-change streams and the completion of its asynchronous requests.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <wrl/client.h>

#include "opc/datachange/update_pass.h"

#include "opc/datachange/async_io.h"
#include "opc/datachange/data_callback.h"
#include "opc/datachange/data_object.h"
#include "opc/datachange/delivery_group.h"
#include "opc/datachange/group_streams.h"
#include "opc/items/item_object.h"
#include "opc/values/tag_changes.h"
#include "opc_error.h"
#include "runtime_link/tag_mirror.h"
#include "runtime_link/viewer_link.h"

namespace {

// The active items of the tags changed since the group's kept streams were made current,
// refreshed; false when memory is short. No item has a write to post here: a write is an edit
// of the table, and a pass after an edit refreshes every item.
bool RefreshItemsOfChangedTags(ItemTable& items, const RefreshPass& pass, uint64_t since,
                               PassRefresh& refresh)
{
    try {
        if (LastTagChange() == since) return true;
        for (int tag = 0; tag < kMirrorSlots; ++tag) {
            if (TagChangeNumber(tag) <= since) continue;
            items.ForEachOfTag(tag, [&pass, &refresh](ItemObject& item) {
                if (!item.Active()) return;
                refresh.settled = item.Refresh(pass) && refresh.settled;
                refresh.refreshed.push_back(item.ServerHandle());
            });
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Refreshes every active item and posts the writes of the inactive ones, and indexes the
// items by tag anew when one looked its tag up anew.
void RefreshEveryItem(ItemTable& items, const RefreshPass& pass, PassRefresh& refresh)
{
    bool settled = true;
    bool indexed = items.TagIndexGeneration() == pass.mirrorGeneration;
    items.ForEach([&pass, &settled, &indexed, &items](ItemObject& item) {
        if (item.Active()) {
            settled = item.Refresh(pass) && settled;
        } else {
            // A write does not wait for its item to be active; the item stays unrefreshed.
            item.PostPendingWrite();
        }
        // An item made active again, or posting a write, may have looked its tag up anew only
        // now.
        indexed = indexed && items.IndexedTag(item.ServerHandle()) == item.TagSlot();
    });
    refresh.settled = settled;
    refresh.refreshed.clear();
    // Every active item has now looked its tag up in this mirror.
    if (!indexed) items.IndexTags(pass.mirrorGeneration);
}

// The item refresh of an expired period: of every active item, or only of those whose tags
// changed when the items are current (PreviousStreams::ItemsCurrentAt).
PassRefresh RefreshItems(DeliveryGroup& group, const FILETIME& cycleTime)
{
    // No call out is made during the walk: the link stays as it is found.
    const RefreshPass pass{cycleTime,
                           ViewerLinked() ? WORD{OPC_QUALITY_GOOD} : WORD{OPC_QUALITY_COMM_FAILURE},
                           TagMirrorGeneration()};
    ItemTable& items = group.Items();
    PassRefresh refresh;
    refresh.marks = ItemMarks{LastTagChange(), items.Edits(), pass.quality};
    PreviousStreams& previous = group.LastDataChangeStreams();
    refresh.streamsCurrent = previous.StreamsCurrent();
    if (items.TagIndexGeneration() == pass.mirrorGeneration &&
        previous.ItemsCurrentAt(refresh.marks)) {
        refresh.onlyChangedTags =
            RefreshItemsOfChangedTags(items, pass, previous.ItemsCurrentSince(), refresh);
    }
    if (!refresh.onlyChangedTags) RefreshEveryItem(items, pass, refresh);
    // A write the refresh posted changed a tag after the marks: the items are not current.
    previous.ItemsRefreshed(refresh.settled && LastTagChange() == refresh.marks.tagChange,
                            refresh.marks);
    return refresh;
}

// The data-change streams of both formats are built before either is sent, so that they carry
// the same read of the items.
void SendDataChangeStreams(DeliveryGroup& group, const PassRefresh& refresh)
{
    if (!group.IsActive()) return;
    PreparedStream dataTime;
    PreparedStream data;
    PrepareDataChangeStreams(group, refresh, dataTime, data);
    SendPreparedStream(group, std::move(dataTime));
    SendPreparedStream(group, std::move(data));
}

// Whether a request waits in its record to be completed; a cancelled one is dropped unsent.
bool Outstanding(PendingRequest& record)
{
    if (!record.InUse()) return false;
    if (!record.cancelled) return true;
    record.Reset();
    return false;
}

// A read or refresh: the data stream, then the data-with-time stream, with the items as they
// are now. Device and cache are the same mirror, so a device read is done at once. The streams
// are built while the request still waits in its record, so that a request whose streams
// cannot be had yet stays for the next pass; it leaves the record before anything is sent, as
// the client may queue the next one from within OnDataChange.
void CompleteRead(DeliveryGroup& group, PendingRequest& record)
{
    if (!Outstanding(record)) return;
    StreamItemList list;
    PreparedStream data;
    PreparedStream dataTime;
    if (!ReadStreamItems(group, record.items.get(), record.count, 0, list) ||
        !PrepareDataStream(group, DataStreamFormat::Data, list, record.transactionId, data) ||
        !PrepareDataStream(group, DataStreamFormat::DataTime, list, record.transactionId,
                           dataTime)) {
        return;
    }
    record.Reset();
    SendPreparedStream(group, std::move(data));
    SendPreparedStream(group, std::move(dataTime));
}

void CompleteWrite(DeliveryGroup& group, PendingRequest& record)
{
    if (!Outstanding(record)) return;
    PreparedStream stream;
    if (!PrepareWriteCompleteStream(group, record.items.get(), record.count, record.transactionId,
                                    stream)) {
        return;
    }
    record.Reset();
    SendPreparedStream(group, std::move(stream));
}

// The update pass's part for a group's data callback: the data change of each expired period,
// carrying only the items whose value or quality changed since the callback last got them,
// and on every pass the completions of the queued IOPCAsyncIO2 requests, oldest first.

using CallPointer = std::unique_ptr<DataCallbackCall>;

// The request's item as the table holds it now; null when it was removed since the request.
ItemObject* RequestedItemNow(const ItemTable& table, const RequestedItem& requested)
{
    ItemObject* item = table.Find(requested.hServer);
    return item && item->Serial() == requested.serial ? item : nullptr;
}

// An item removed since its request: answered OPC_E_INVALIDHANDLE, with no value.
CallbackItem RemovedItem(const RequestedItem& requested)
{
    CallbackItem removed;
    removed.hServer = requested.hServer;
    removed.hClient = requested.hClient;
    removed.quality = OPC_QUALITY_BAD;
    removed.error = OPC_E_INVALIDHANDLE;
    return removed;
}

// The request's items read from its source (the device: the tag record now; the cache: the
// values the items hold), or with their maximum ages.
bool ReadRequestItems(DeliveryGroup& group, const CallbackRequest& request,
                      std::vector<CallbackItem>& items)
{
    const ItemTable& table = group.Items();
    const unsigned long long cachedAt = group.CachedItemsAt();
    try {
        items.reserve(request.items.size());
        for (size_t i = 0; i < request.items.size(); ++i) {
            ItemObject* item = RequestedItemNow(table, request.items[i]);
            if (!item) {
                items.push_back(RemovedItem(request.items[i]));
            } else if (!request.maxAges.empty()) {
                items.push_back(ReadCallbackItemMaxAge(*item, request.maxAges[i], cachedAt));
            } else if (request.source == OPC_DS_DEVICE) {
                // From the device: the tag record now, as a read with a maximum age of 0.
                items.push_back(ReadCallbackItemMaxAge(*item, 0, cachedAt));
            } else {
                items.push_back(ReadCallbackItem(*item, OPC_DS_CACHE));
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool WriteResults(const DeliveryGroup& group, const CallbackRequest& request,
                  std::vector<CallbackItem>& items)
{
    const ItemTable& table = group.Items();
    try {
        items.reserve(request.items.size());
        for (size_t i = 0; i < request.items.size(); ++i) {
            const ItemObject* item = RequestedItemNow(table, request.items[i]);
            if (!item) {
                items.push_back(RemovedItem(request.items[i]));
                continue;
            }
            CallbackItem written;
            written.hServer = request.items[i].hServer;
            written.hClient = item->ClientHandle();
            written.error = request.writeResults[i];
            items.push_back(std::move(written));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

CallPointer BuildCompletion(DeliveryGroup& group, const CallbackRequest& request)
{
    DataCallbackKind kind = DataCallbackKind::CancelComplete;
    std::vector<CallbackItem> items;
    if (!request.cancelled) {
        switch (request.kind) {
        case CallbackRequestKind::Read:
            kind = DataCallbackKind::ReadComplete;
            if (!ReadRequestItems(group, request, items)) return nullptr;
            break;
        case CallbackRequestKind::Refresh:
            kind = DataCallbackKind::DataChange;
            if (!ReadRequestItems(group, request, items)) return nullptr;
            break;
        case CallbackRequestKind::Write:
            kind = DataCallbackKind::WriteComplete;
            if (!WriteResults(group, request, items)) return nullptr;
            break;
        }
    }
    return CallPointer(new (std::nothrow) DataCallbackCall(kind, request.transactionId,
                                                           group.ClientHandle(), std::move(items)));
}

// Nothing while the group is inactive, the data change disabled, no sink connected or no item
// owed; the items sent are owed nothing more.
void SendCallbackDataChange(DeliveryGroup& group)
{
    DataCallback& callback = group.Callback();
    if (!group.IsActive() || !callback.enabled || !callback.Connected()) return;
    std::vector<CallbackItem> items;
    try {
        group.Items().ForEach([&items](const ItemObject& item) {
            if (item.Active() && (item.ChangeMask() & kOwedToDataCallback)) {
                items.push_back(ReadCallbackItem(item, OPC_DS_CACHE));
            }
        });
    } catch (const std::bad_alloc&) {
        return;  // the bits stay: the items go with the next period
    }
    if (items.empty()) return;
    CallPointer call(new (std::nothrow) DataCallbackCall(DataCallbackKind::DataChange, 0,
                                                         group.ClientHandle(), std::move(items)));
    if (!call) return;
    ItemTable& table = group.Items();
    for (const CallbackItem& item : call->Items()) {
        table.Find(item.hServer)->ClearChangeBits(kOwedToDataCallback);
    }
    callback.Deliver(std::move(call));
}

// Every queued request is completed: a cancelled one with OnCancelComplete, a read with
// OnReadComplete, a write with OnWriteComplete, a refresh with OnDataChange carrying its
// transaction ID. All are built before the first call, as the client may queue more from
// within one; a request whose call cannot be built for want of memory waits for the next pass.
void CompleteCallbackRequests(DeliveryGroup& group)
{
    CallbackRequests& requests = group.CallbackQueue();
    std::vector<CallPointer> calls;
    while (const CallbackRequest* request = requests.Oldest()) {
        CallPointer call = BuildCompletion(group, *request);
        if (!call) break;
        try {
            calls.push_back(std::move(call));
        } catch (const std::bad_alloc&) {
            break;
        }
        requests.DropOldest();
    }
    for (CallPointer& call : calls) group.Callback().Deliver(std::move(call));
}

// IOPCAsyncIO's completions, on every pass, expired or not, active group or not, once their
// sinks are there.
void CompleteStreamRequests(DeliveryGroup& group)
{
    const DataObjectPart* dataObject = group.DataObject();
    if (!dataObject) return;
    if (dataObject->HasDataSink()) {
        CompleteRead(group, group.Requests().refresh);
        CompleteRead(group, group.Requests().read);
    }
    if (dataObject->Connected(StreamSink::WriteComplete)) {
        CompleteWrite(group, group.Requests().write);
    }
}

}  // namespace

void RunUpdatePass(DeliveryGroup& group, int32_t pollPeriodMs, const FILETIME& cycleTime)
{
    int32_t& countdown = group.UpdateCountdown();
    countdown -= pollPeriodMs;
    const bool expired = countdown <= 0;
    // Every pass of an update of all servers shares its look; a pass on its own looks itself.
    const TagChangeLook look;
    PassRefresh refresh;
    if (expired) {
        refresh = RefreshItems(group, cycleTime);
        group.ItemsRefreshedAt() = GetTickCount64();
        // The overshoot is dropped: the period restarts from this pass.
        countdown = static_cast<int32_t>(std::min<DWORD>(group.UpdateRate(), INT32_MAX));
    }
    // The data callback's part is apart from the streams': neither subscriber disturbs the
    // other. A sink connected since the last pass gets every active item now, whatever the
    // group's period.
    if (group.Callback().TakeNewSink() || expired) SendCallbackDataChange(group);
    CompleteCallbackRequests(group);
    // The pass's time, in ms, counts the quiet time: tests set it.
    const ULARGE_INTEGER passTime{{cycleTime.dwLowDateTime, cycleTime.dwHighDateTime}};
    group.Callback().SendKeepAliveWhenQuiet(passTime.QuadPart / 10000, pollPeriodMs,
                                            group.IsActive() && group.Callback().enabled,
                                            group.ClientHandle());
    const DataObjectPart* dataObject = group.DataObject();
    // Nobody to send to unless a client asked for IDataObject.
    if (expired && dataObject && dataObject->HasDataSink()) SendDataChangeStreams(group, refresh);
    CompleteStreamRequests(group);
}

void AnswerWaitingRequests(DeliveryGroup& group)
{
    CompleteCallbackRequests(group);
    CompleteStreamRequests(group);
}

namespace {

// The groups with requests to answer at the message loop's next turn, each held until then.
std::vector<Microsoft::WRL::ComPtr<DeliveryGroup>> g_promptGroups;
bool (*g_promptPost)(void*) = nullptr;
void* g_promptPostContext = nullptr;
bool g_promptPosted = false;

}  // namespace

void AnswerPromptly(DeliveryGroup& group)
{
    if (!g_promptPost) return;
    try {
        if (std::find_if(g_promptGroups.begin(), g_promptGroups.end(), [&group](const auto& noted) {
                return noted.Get() == &group;
            }) == g_promptGroups.end()) {
            g_promptGroups.emplace_back(&group);
        }
    } catch (const std::bad_alloc&) {
        return;  // the next update pass answers it
    }
    // A post that fails (a full message queue) is tried again with the next request.
    if (!g_promptPosted) g_promptPosted = g_promptPost(g_promptPostContext);
}

void SetPromptCompletionPoster(bool (*post)(void* context), void* context)
{
    g_promptPost = post;
    g_promptPostContext = context;
    g_promptPosted = false;
    if (!post) g_promptGroups.clear();
}

void RunPromptCompletions()
{
    g_promptPosted = false;
    // Taken first: a sink in this apartment may make a new request from within its completion.
    std::vector<Microsoft::WRL::ComPtr<DeliveryGroup>> groups;
    groups.swap(g_promptGroups);
    for (const auto& group : groups) CompleteCallbackRequests(*group.Get());
}
