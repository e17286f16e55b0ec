// The DA 2.0 side across processes: this test program as a client whose IOPCDataCallback is
// connected to a group of the running server, beside a DA 1.0 client of the same server with
// an advise sink; the project's tags change only when a client writes them.
#include <windows.h>
#include <olectl.h>
#include <wrl/client.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/server_figures.h"
#include "opc_da.h"
#include "opc_error.h"
#include "server_identity.h"
#include "tests/e2e/client_group.h"
#include "tests/e2e/opc_server_e2e_environment.h"
#include "tests/e2e/server_process.h"
#include "tests/opc/datachange/recording_callback.h"
#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/datachange/sink_in_other_apartment.h"
#include "tests/opc/include/task_memory.h"
#include "viewer/win_handles.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kPatienceMs = 30000;
constexpr OPCHANDLE kGroupClient = 0x66;

// One server object with one group of the items named, client handles 1, 2, ...
class GroupClient {
public:
    explicit GroupClient(const std::vector<std::wstring>& itemIds)
    {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                         IID_PPV_ARGS(&server_)));
        if (!server_) return;
        items_ = AddClientGroup(*server_.Get(), L"callback", kGroupClient, &groupHandle_);
        if (!items_) return;
        handles = AddActiveItems(*items_.Get(), itemIds);
    }
    ~GroupClient()
    {
        if (point_) point_->Unadvise(cookie_);
        point_.Reset();
        if (data_) data_->DUnadvise(DataTimeFormat());
        data_.Reset();
        items_.Reset();
        server_.Reset();
        // No stub may outlive the sinks.
        CoDisconnectObject(&callback, 0);
        CoDisconnectObject(&sink, 0);
    }
    GroupClient(const GroupClient&) = delete;
    GroupClient& operator=(const GroupClient&) = delete;

    // Connects `sink`, or else this client's own callback.
    HRESULT ConnectCallback(IUnknown* sink = nullptr)
    {
        ComPtr<IConnectionPointContainer> container;
        const HRESULT asked = items_.As(&container);
        if (FAILED(asked)) return asked;
        const HRESULT found = container->FindConnectionPoint(IID_IOPCDataCallback, &point_);
        if (FAILED(found)) return found;
        return point_->Advise(sink ? sink : &callback, &cookie_);
    }
    HRESULT AdviseDataTime()
    {
        const HRESULT asked = items_.As(&data_);
        if (FAILED(asked)) return asked;
        FORMATETC format{DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        DWORD token = 0;
        return data_->DAdvise(&format, 0, &sink, &token);
    }
    ComPtr<IOPCAsyncIO2> Async2() const { return As<IOPCAsyncIO2>(); }
    // Another interface of the group.
    template <class Interface>
    ComPtr<Interface> As() const
    {
        ComPtr<Interface> other;
        EXPECT_EQ(S_OK, items_.As(&other));
        return other;
    }
    void WriteSync(OPCHANDLE handle, LONG value) const
    {
        ComPtr<IOPCSyncIO> io;
        ASSERT_EQ(S_OK, items_.As(&io));
        VARIANT variant;
        VariantInit(&variant);
        variant.vt = VT_I4;
        variant.lVal = value;
        TaskOut<HRESULT> errors;
        ASSERT_EQ(S_OK, io->Write(1, &handle, &variant, errors.out()));
    }
    IConnectionPoint* Point() const { return point_.Get(); }
    // Takes the group out of its server's table while this client still holds it.
    HRESULT RemoveGroup() const { return server_->RemoveGroup(groupHandle_, FALSE); }
    // Handles messages, and so the server's callbacks, until `count` calls came.
    bool WaitForCalls(size_t count) const
    {
        return WaitUntil([&] { return callback.calls.size() >= count; }, kPatienceMs);
    }

    RecordingCallback callback;  // before the interfaces: it outlives them
    RecordingSink sink;
    std::vector<OPCHANDLE> handles;

private:
    ComPtr<IOPCServer> server_;
    ComPtr<IOPCItemMgt> items_;
    ComPtr<IConnectionPoint> point_;
    ComPtr<IDataObject> data_;
    DWORD cookie_ = 0;
    OPCHANDLE groupHandle_ = 0;
};

TEST(DataCallbackAcrossProcesses, TheCallbackGetsOnlyChangesWhileADa1StreamGetsEveryPeriod)
{
    GroupClient da2({L"Level", L"Pump"});
    GroupClient da1({L"Level"});
    ASSERT_EQ(S_OK, da1.AdviseDataTime());
    ASSERT_EQ(S_OK, da2.ConnectCallback());
    ASSERT_TRUE(da2.WaitForCalls(1));
    EXPECT_EQ("1=42 2=0", ItemValues(da2.callback.calls[0])) << "every item, Pump as VT_BOOL";
    EXPECT_EQ(0u, da2.callback.calls[0].transactionId);
    EXPECT_EQ(kGroupClient, da2.callback.calls[0].group);
    // Three more periods of the stream, and nothing changed.
    const size_t streams = da1.sink.streams.size();
    ASSERT_TRUE(WaitUntil([&] { return da1.sink.streams.size() >= streams + 3; }, kPatienceMs));
    EXPECT_EQ(1u, da2.callback.calls.size()) << "no change, no callback";

    da2.WriteSync(da2.handles[0], 4242);
    ASSERT_TRUE(da2.WaitForCalls(2));
    EXPECT_EQ("1=4242", ItemValues(da2.callback.calls[1])) << "only the item that changed";
    const size_t after = da1.sink.streams.size();
    EXPECT_TRUE(WaitUntil([&] { return da1.sink.streams.size() >= after + 2; }, kPatienceMs))
        << "the DA 1.0 stream goes on";
    da2.WriteSync(da2.handles[0], 42);
    EXPECT_TRUE(da2.WaitForCalls(3));
}

TEST(DataCallbackAcrossProcesses, Async2RequestsEchoTheClientsTransactions)
{
    GroupClient client({L"Level", L"Operator"});
    ASSERT_EQ(S_OK, client.ConnectCallback());
    ASSERT_TRUE(client.WaitForCalls(1));
    ComPtr<IOPCAsyncIO2> io = client.Async2();
    ASSERT_TRUE(io);
    DWORD readId = 0, writeId = 0, refreshId = 0;
    TaskOut<HRESULT> readErrors, writeErrors;
    ASSERT_EQ(S_OK, io->Read(2, client.handles.data(), 0x5151, &readId, readErrors.out()));
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 77;
    ASSERT_EQ(S_OK,
              io->Write(1, client.handles.data(), &value, 0x5252, &writeId, writeErrors.out()));
    ASSERT_EQ(S_OK, io->Refresh2(OPC_DS_CACHE, 0x5353, &refreshId));
    EXPECT_NE(readId, writeId);
    EXPECT_NE(writeId, refreshId);
    // The write's new value may also come as a data change of its own; the completions come in
    // the order asked.
    std::vector<const CallbackRecord*> completions;
    ASSERT_TRUE(WaitUntil(
        [&] {
            completions.clear();
            for (const CallbackRecord& call : client.callback.calls) {
                if (call.transactionId != 0) completions.push_back(&call);
            }
            return completions.size() >= 3;
        },
        kPatienceMs));
    ASSERT_EQ(3u, completions.size());
    EXPECT_EQ(CallbackRecord::ReadComplete, completions[0]->kind);
    EXPECT_EQ(0x5151u, completions[0]->transactionId);
    EXPECT_EQ(2u, completions[0]->items.size());
    EXPECT_EQ(CallbackRecord::WriteComplete, completions[1]->kind);
    EXPECT_EQ(0x5252u, completions[1]->transactionId);
    EXPECT_EQ(S_OK, completions[1]->masterError);
    EXPECT_EQ(CallbackRecord::DataChange, completions[2]->kind);
    EXPECT_EQ(0x5353u, completions[2]->transactionId);
    EXPECT_EQ("1=77 2=0", ItemValues(*completions[2])) << "Operator is a string";

    // A cancel that reaches the request before the next pass gets OnCancelComplete; one too
    // late finds nothing to cancel, and the read completes.
    const size_t before = client.callback.calls.size();
    DWORD cancelId = 0;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, io->Read(1, client.handles.data(), 0x5454, &cancelId, errors.out()));
    const HRESULT cancelled = io->Cancel2(cancelId);
    ASSERT_TRUE(cancelled == S_OK || cancelled == E_FAIL);
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (size_t i = before; i < client.callback.calls.size(); ++i) {
                if (client.callback.calls[i].transactionId == 0x5454) return true;
            }
            return false;
        },
        kPatienceMs));
    for (size_t i = before; i < client.callback.calls.size(); ++i) {
        if (client.callback.calls[i].transactionId != 0x5454) continue;
        EXPECT_EQ(cancelled == S_OK ? CallbackRecord::CancelComplete : CallbackRecord::ReadComplete,
                  client.callback.calls[i].kind);
    }
    EXPECT_EQ(E_FAIL, io->Cancel2(cancelId)) << "completed";
    client.WriteSync(client.handles[0], 42);
}

TEST(DataCallbackAcrossProcesses, BadCallsGetTheirCodes)
{
    GroupClient client({L"Level"});
    ComPtr<IOPCAsyncIO2> io = client.Async2();
    ASSERT_TRUE(io);
    DWORD cancelId = 0;
    TaskOut<HRESULT> errors;
    EXPECT_EQ(CONNECT_E_NOCONNECTION,
              io->Read(1, client.handles.data(), 1, &cancelId, errors.out()));
    ASSERT_EQ(S_OK, client.ConnectCallback());
    RecordingCallback second;
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, io.As(&container));
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCDataCallback, &point));
    DWORD cookie = 0;
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, point->Advise(&second, &cookie));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(0xBAD));
    OPCHANDLE handles[] = {client.handles[0], 0xBAD};
    TaskOut<HRESULT> some;
    EXPECT_EQ(S_FALSE, io->Read(2, handles, 3, &cancelId, some.out()));
    EXPECT_EQ(S_OK, some[0]);
    EXPECT_EQ(OPC_E_INVALIDHANDLE, some[1]);
    point.Reset();
    CoDisconnectObject(&second, 0);
}

// A client whose callback apartment is frozen while another of its threads floods Read: the
// server refuses its requests once a thousand of them wait, for an update pass or as
// completions, and delivers every accepted one after the thaw.
TEST(DataCallbackAcrossProcesses, AFloodOfReadsWhileTheCallbackIsFrozenIsBoundedAndLosesNothing)
{
    UniqueHandle frozen(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle thaw(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<DWORD> readsCompleted{0};
    SinkInOtherApartment<RecordingCallback> callback;
    callback.Served().onFirstCall = [&] {
        SetEvent(frozen.get());
        WaitForSingleObject(thaw.get(), 4 * kPatienceMs);
    };
    callback.Served().onEveryCall = [&] {
        if (callback.Served().calls.back().kind == CallbackRecord::ReadComplete) ++readsCompleted;
    };
    GroupClient client({L"Level"});
    ASSERT_EQ(S_OK, client.ConnectCallback(callback.Proxy()));
    ASSERT_TRUE(WaitUntil([&] { return WaitForSingleObject(frozen.get(), 0) == WAIT_OBJECT_0; },
                          kPatienceMs));
    ComPtr<IOPCAsyncIO2> io = client.Async2();
    HRESULT refused = S_OK;
    DWORD accepted = 0;
    for (DWORD transaction = 1; transaction <= 20000; ++transaction) {
        OPCHANDLE handle = client.handles[0];
        DWORD cancelId = 0;
        TaskOut<HRESULT> errors;
        const HRESULT hr = io->Read(1, &handle, transaction, &cancelId, errors.out());
        if (hr != S_OK) {
            refused = hr;
            break;
        }
        ++accepted;
    }
    EXPECT_EQ(OPC_SERVER_E_CALLBACKS_BACKLOGGED, refused);
    EXPECT_GT(accepted, 0u);
    EXPECT_LE(accepted, 1000u);
    SetEvent(thaw.get());
    EXPECT_TRUE(WaitUntil([&] { return readsCompleted.load() >= accepted; }, 4 * kPatienceMs));
    EXPECT_EQ(accepted, readsCompleted.load()) << "every accepted read completes, once";
    std::printf("[ figure ] reads accepted before the refusal: %lu\n",
                static_cast<unsigned long>(accepted));
}

// A client whose callback apartment is frozen while it floods Reads of a thousand items each:
// past the bytes of its budget its requests are refused, the server grows by a bounded amount
// and gives it back, every accepted request is answered once after the thaw, and another
// client's keep-alives keep coming meanwhile.
TEST(DataCallbackAcrossProcesses, AFloodOfLargeRequestsIsBoundedByTheClientsBudget)
{
    GroupClient other({L"Level"});
    ASSERT_EQ(S_OK, other.ConnectCallback());
    DWORD keepAlive = 0;
    ASSERT_EQ(S_OK, other.As<IOPCGroupStateMgt2>()->SetKeepAlive(1000, &keepAlive));
    UniqueHandle frozen(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle thaw(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<DWORD> answered{0};
    SinkInOtherApartment<RecordingCallback> callback;
    callback.Served().onFirstCall = [&] {
        SetEvent(frozen.get());
        WaitForSingleObject(thaw.get(), 4 * kPatienceMs);
    };
    callback.Served().onEveryCall = [&] {
        if (callback.Served().calls.back().transactionId != 0) ++answered;
    };
    GroupClient flooder({L"Level"});
    ASSERT_EQ(S_OK, flooder.ConnectCallback(callback.Proxy()));
    ASSERT_TRUE(WaitUntil([&] { return WaitForSingleObject(frozen.get(), 0) == WAIT_OBJECT_0; },
                          kPatienceMs));
    ASSERT_TRUE(other.WaitForCalls(1));
    const SIZE_T before = ServerPrivateBytes();
    std::vector<OPCHANDLE> thousand(1000, flooder.handles[0]);
    ComPtr<IOPCAsyncIO2> io = flooder.Async2();
    DWORD accepted = 0;
    DWORD refused = 0;
    SIZE_T peak = before;
    // Until the budget refuses: a thousand-item read's answer is about 80 KB of 16 MB.
    for (DWORD transaction = 1; transaction <= 1000 && refused == 0; ++transaction) {
        DWORD cancelId = 0;
        TaskOut<HRESULT> errors;
        const HRESULT hr = io->Read(1000, thousand.data(), transaction, &cancelId, errors.out());
        if (hr == S_OK) {
            ++accepted;
        } else {
            EXPECT_EQ(OPC_SERVER_E_CALLBACKS_BACKLOGGED, hr);
            ++refused;
        }
        if (transaction % 16 == 0) peak = std::max(peak, ServerPrivateBytes());
    }
    EXPECT_EQ(1u, refused);
    EXPECT_LT(accepted, 1000u) << "the bytes ran out before the count";
    // The frozen client holds its whole budget; another client is served as before.
    const size_t otherCalls = other.callback.calls.size();
    EXPECT_TRUE(other.WaitForCalls(otherCalls + 2)) << "the other client's keep-alives";
    SetEvent(thaw.get());
    EXPECT_TRUE(WaitUntil([&] { return answered.load() >= accepted; }, 4 * kPatienceMs));
    EXPECT_EQ(accepted, answered.load()) << "every accepted request answered, once";
    EXPECT_LT(peak - before, SIZE_T{48} << 20);
    const bool settled =
        WaitUntil([&] { return ServerPrivateBytes() < before + (SIZE_T{16} << 20); }, kPatienceMs);
    EXPECT_TRUE(settled);
    std::printf("[ figure ] flood: %lu accepted, %lu refused, server grew %.1f MB at most\n",
                static_cast<unsigned long>(accepted), static_cast<unsigned long>(refused),
                (peak - before) / 1048576.0);
}

// What a client leaves behind: requests of a group it takes out of its server's table are
// answered all the same, the group's write reaches the tag then, and the group takes no more
// work. (An item removed before its request's completion is made is answered with its error;
// across processes the completion is made before the next call can remove anything.)
TEST(DataCallbackAcrossProcesses, EveryAcceptedRequestIsAnsweredWhateverTheClientRemoves)
{
    enum class Then { RemoveItems, RemoveGroup };
    const struct {
        const char* name;
        bool write;
        Then then;
        HRESULT itemError;  // in the completion
    } cases[] = {
        {"a read, then its item removed", false, Then::RemoveItems, S_OK},
        {"a read of a group that left the table", false, Then::RemoveGroup, S_OK},
        {"a write of a group that left the table", true, Then::RemoveGroup, S_OK},
    };
    for (const auto& c : cases) {
        GroupClient client({L"Level"});
        ASSERT_EQ(S_OK, client.ConnectCallback());
        ASSERT_TRUE(client.WaitForCalls(1));
        ComPtr<IOPCAsyncIO2> io = client.Async2();
        OPCHANDLE handle = client.handles[0];
        DWORD cancelId = 0;
        TaskOut<HRESULT> errors;
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_I4;
        value.lVal = 4343;
        ASSERT_EQ(S_OK, c.write ? io->Write(1, &handle, &value, 77, &cancelId, errors.out())
                                : io->Read(1, &handle, 77, &cancelId, errors.out()))
            << c.name;
        if (c.then == Then::RemoveItems) {
            TaskOut<HRESULT> removed;
            ASSERT_EQ(S_OK, client.As<IOPCItemMgt>()->RemoveItems(1, &handle, removed.out()));
        } else {
            ASSERT_EQ(OPC_S_INUSE, client.RemoveGroup()) << c.name;
            TaskOut<HRESULT> later;
            EXPECT_EQ(CO_E_OBJNOTCONNECTED, io->Read(1, &handle, 78, &cancelId, later.out()))
                << c.name;
            EXPECT_EQ(CO_E_OBJNOTCONNECTED, io->Refresh2(OPC_DS_CACHE, 79, &cancelId)) << c.name;
        }
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (const CallbackRecord& call : client.callback.calls) {
                    if (call.transactionId == 77) return true;
                }
                return false;
            },
            kPatienceMs))
            << c.name;
        for (const CallbackRecord& call : client.callback.calls) {
            if (call.transactionId != 77) continue;
            EXPECT_EQ(c.write ? CallbackRecord::WriteComplete : CallbackRecord::ReadComplete,
                      call.kind)
                << c.name;
            ASSERT_EQ(1u, call.items.size()) << c.name;
            EXPECT_EQ(c.itemError, call.items[0].error) << c.name;
            EXPECT_EQ(1u, call.items[0].client) << c.name;
        }
        if (c.write && c.then == Then::RemoveGroup) {
            // Posted as the group left the table, not when the client lets it go.
            GroupClient reader({L"Level"});
            ComPtr<IOPCSyncIO> sync = reader.As<IOPCSyncIO>();
            OPCHANDLE level = reader.handles[0];
            EXPECT_TRUE(WaitUntil(
                [&] {
                    TaskOut<OPCITEMSTATE> states;
                    TaskOut<HRESULT> readErrors;
                    return sync->Read(OPC_DS_DEVICE, 1, &level, states.out(), readErrors.out()) ==
                               S_OK &&
                           states[0].vDataValue.lVal == 4343;
                },
                kPatienceMs))
                << c.name;
        }
    }
}

// A client that disconnects its callback sink (its objects stay alive): the server lets go of
// that advise only; the client's server object serves on and the point takes a new sink.
TEST(DataCallbackAcrossProcesses, ASinkTheClientDisconnectsDropsOnlyItsAdvise)
{
    GroupClient client({L"Level"});
    ASSERT_EQ(S_OK, client.ConnectCallback());
    ASSERT_TRUE(client.WaitForCalls(1));
    CoDisconnectObject(&client.callback, 0);
    RecordingCallback replacement;
    DWORD cookie = 0;
    LONG value = 700;
    // Each write is a change the server tries to tell the disconnected sink.
    EXPECT_TRUE(WaitUntil(
        [&] {
            client.WriteSync(client.handles[0], ++value);
            return client.Point()->Advise(&replacement, &cookie) == S_OK;
        },
        kPatienceMs))
        << "the gone sink's connection is freed";
    client.WriteSync(client.handles[0], ++value);
    EXPECT_TRUE(WaitUntil([&] { return !replacement.calls.empty(); }, kPatienceMs))
        << "the client's server object and group serve the new sink";
    EXPECT_EQ(S_OK, client.Point()->Unadvise(cookie));
    CoDisconnectObject(&replacement, 0);
}

// The DA 3.0 reads and writes across processes: IOPCSyncIO2's ReadMaxAge answers at once;
// IOPCAsyncIO3's requests complete through the callback with the client's transaction IDs.
TEST(DataCallbackAcrossProcesses, MaxAgeReadsRefreshesAndVqtWritesEchoTheClientsTransactions)
{
    GroupClient client({L"Level", L"Operator"});
    ASSERT_EQ(S_OK, client.ConnectCallback());
    ASSERT_TRUE(client.WaitForCalls(1));
    ComPtr<IOPCSyncIO2> sync = client.As<IOPCSyncIO2>();
    ASSERT_TRUE(sync);
    // Level as an earlier test may have left it is written back first; a read of age 0 sees it
    // once the write has reached the tag record.
    client.WriteSync(client.handles[0], 42);
    LONG level = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            DWORD maxAges[] = {0, 0xFFFFFFFF};
            TaskOut<VARIANT> values;
            TaskOut<WORD> qualities;
            TaskOut<FILETIME> times;
            TaskOut<HRESULT> errors;
            EXPECT_EQ(S_OK, sync->ReadMaxAge(2, client.handles.data(), maxAges, values.out(),
                                             qualities.out(), times.out(), errors.out()));
            if (!values.get()) return false;
            EXPECT_EQ(VT_I4, values[0].vt);
            EXPECT_EQ(VT_BSTR, values[1].vt);
            if (values[1].vt == VT_BSTR) {
                EXPECT_STREQ(L"张三", values[1].bstrVal);
            }
            EXPECT_EQ(OPC_QUALITY_GOOD, qualities[0]);
            EXPECT_EQ(OPC_QUALITY_GOOD, qualities[1]);
            level = values[0].lVal;
            VariantClear(&values[0]);
            VariantClear(&values[1]);
            return level == 42;
        },
        kPatienceMs))
        << level;

    ComPtr<IOPCAsyncIO3> io = client.As<IOPCAsyncIO3>();
    ASSERT_TRUE(io);
    DWORD readId = 0, refreshId = 0, writeId = 0;
    TaskOut<HRESULT> readErrors, writeErrors;
    DWORD asyncAges[] = {0, 60000};
    ASSERT_EQ(S_OK, io->ReadMaxAge(2, client.handles.data(), asyncAges, 0x6161, &readId,
                                   readErrors.out()));
    ASSERT_EQ(S_OK, io->RefreshMaxAge(0xFFFFFFFF, 0x6262, &refreshId));
    OPCITEMVQT vqts[2] = {};
    vqts[0].vDataValue.vt = VT_I4;
    vqts[0].vDataValue.lVal = 43;
    vqts[1].vDataValue.vt = VT_I4;
    vqts[1].vDataValue.lVal = 1;
    vqts[1].bTimeStampSpecified = TRUE;  // a tag record keeps no timestamp
    ASSERT_EQ(S_FALSE,
              io->WriteVQT(2, client.handles.data(), vqts, 0x6363, &writeId, writeErrors.out()));
    EXPECT_EQ(S_OK, writeErrors[0]);
    EXPECT_EQ(OPC_E_NOTSUPPORTED, writeErrors[1]);
    std::vector<const CallbackRecord*> completions;
    ASSERT_TRUE(WaitUntil(
        [&] {
            completions.clear();
            for (const CallbackRecord& call : client.callback.calls) {
                if (call.transactionId != 0) completions.push_back(&call);
            }
            return completions.size() >= 3;
        },
        kPatienceMs));
    ASSERT_EQ(3u, completions.size());
    EXPECT_EQ(CallbackRecord::ReadComplete, completions[0]->kind);
    EXPECT_EQ(0x6161u, completions[0]->transactionId);
    // Each request reads its items as soon as its call has returned: before the next call's
    // write.
    EXPECT_EQ("1=42 2=0", ItemValues(*completions[0])) << "Operator is a string";
    EXPECT_EQ(CallbackRecord::DataChange, completions[1]->kind);
    EXPECT_EQ(0x6262u, completions[1]->transactionId);
    EXPECT_EQ("1=42 2=0", ItemValues(*completions[1]));
    EXPECT_EQ(CallbackRecord::WriteComplete, completions[2]->kind);
    EXPECT_EQ(0x6363u, completions[2]->transactionId);
    ASSERT_EQ(1u, completions[2]->items.size()) << "only the value alone was written";
    EXPECT_EQ(S_OK, completions[2]->items[0].error);
    client.WriteSync(client.handles[0], 42);
}

// The times between a group's keep-alives, and the calls with items meanwhile, as the client
// sees them.
struct KeepAliveWatch {
    std::vector<ULONGLONG> keepAliveTicks;
    size_t dataChanges = 0;

    void Record(const CallbackRecord& call)
    {
        if (call.kind != CallbackRecord::DataChange) return;
        if (call.items.empty()) {
            keepAliveTicks.push_back(GetTickCount64());
            EXPECT_EQ(0u, call.transactionId);
            EXPECT_EQ(kGroupClient, call.group);
            EXPECT_EQ(S_OK, call.masterQuality);
            EXPECT_EQ(S_OK, call.masterError);
        } else {
            ++dataChanges;
        }
    }
};

DWORD SetKeepAlive(const GroupClient& client, DWORD keepAliveMs)
{
    ComPtr<IOPCGroupStateMgt2> state = client.As<IOPCGroupStateMgt2>();
    DWORD revised = 0;
    EXPECT_TRUE(state && SUCCEEDED(state->SetKeepAlive(keepAliveMs, &revised)));
    return revised;
}

// A group of a tag nobody changes gets a keep-alive each keep-alive time, never sooner.
TEST(DataCallbackAcrossProcesses, AQuietGroupGetsKeepAlivesAtItsTime)
{
    GroupClient client({L"Valve.Open"});
    KeepAliveWatch watch;
    client.callback.onEveryCall = [&] { watch.Record(client.callback.calls.back()); };
    const DWORD keepAliveMs = SetKeepAlive(client, 1500);  // revised to whole poll periods
    ASSERT_GE(keepAliveMs, 1500u);
    ASSERT_EQ(S_OK, client.ConnectCallback());
    ASSERT_TRUE(WaitUntil([&] { return watch.keepAliveTicks.size() >= 4; }, kPatienceMs));
    EXPECT_EQ(1u, watch.dataChanges) << "only the newly connected sink's";
    for (size_t i = 1; i < watch.keepAliveTicks.size(); ++i) {
        const ULONGLONG between = watch.keepAliveTicks[i] - watch.keepAliveTicks[i - 1];
        // Delivery jitter may bring one a little early; none comes at the update rate.
        EXPECT_GE(between, keepAliveMs * 3 / 4) << i;
    }
    std::printf("[ figure ] keep-alive %lu ms: between the first two %llu ms\n",
                static_cast<unsigned long>(keepAliveMs),
                watch.keepAliveTicks[1] - watch.keepAliveTicks[0]);
}

// While a group's tag changes faster than the keep-alive time, data changes flow and no
// keep-alive comes; once the changes stop, keep-alives come again.
TEST(DataCallbackAcrossProcesses, NoKeepAliveWhileDataFlows)
{
    GroupClient client({L"Level"});  // 1000 ms, below the keep-alive time
    KeepAliveWatch watch;
    client.callback.onEveryCall = [&] { watch.Record(client.callback.calls.back()); };
    ASSERT_GE(SetKeepAlive(client, 3000), 3000u);
    ASSERT_EQ(S_OK, client.ConnectCallback());
    ASSERT_TRUE(client.WaitForCalls(1));
    LONG value = 500;
    const ULONGLONG end = GetTickCount64() + 9000;
    while (GetTickCount64() < end) {
        client.WriteSync(client.handles[0], ++value);
        WaitUntil([] { return false; }, 300);  // handles the callbacks meanwhile
    }
    EXPECT_GE(watch.dataChanges, 5u) << "the changes flowed";
    EXPECT_TRUE(watch.keepAliveTicks.empty()) << "no keep-alive while data flows";
    client.WriteSync(client.handles[0], 42);
    EXPECT_TRUE(WaitUntil([&] { return !watch.keepAliveTicks.empty(); }, kPatienceMs))
        << "quiet again: keep-alives again";
}

}  // namespace
