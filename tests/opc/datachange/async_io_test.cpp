#include <olectl.h>
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "opc/datachange/stream_formats.h"
#include "opc_error.h"
#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/datachange/stream_bytes.h"
#include "tests/opc/datachange/stream_test_group.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/values/variant_maker.h"

namespace {

struct Queued {
    HRESULT result;
    DWORD id;
    std::vector<HRESULT> errors;
};

Queued Read(StreamTestGroup& group, std::vector<OPCHANDLE> handles,
            OPCDATASOURCE source = OPC_DS_CACHE)
{
    Queued queued{E_FAIL, 0, {}};
    TaskOut<HRESULT> errors;
    queued.result = group.Async()->Read(0, source, static_cast<DWORD>(handles.size()),
                                        handles.data(), &queued.id, errors.out());
    if (errors.get()) queued.errors.assign(errors.get(), errors.get() + handles.size());
    return queued;
}

Queued Write(StreamTestGroup& group, std::vector<OPCHANDLE> handles, VARIANT* values)
{
    Queued queued{E_FAIL, 0, {}};
    TaskOut<HRESULT> errors;
    queued.result = group.Async()->Write(0, static_cast<DWORD>(handles.size()), handles.data(),
                                         values, &queued.id, errors.out());
    if (errors.get()) queued.errors.assign(errors.get(), errors.get() + handles.size());
    return queued;
}

std::vector<OPCHANDLE> ClientsOf(const ReceivedStream& stream)
{
    std::vector<OPCHANDLE> clients;
    for (const StreamItem& item : ItemsOf(stream)) clients.push_back(item.client);
    return clients;
}

class AsyncIOTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, group_.Advise(DataFormat(), &sink_));
        ASSERT_EQ(S_OK, group_.Advise(DataTimeFormat(), &sink_));
        ASSERT_EQ(S_OK, group_.Advise(WriteCompleteFormat(), &sink_));
        a_ = group_.Add(L"INT", TRUE, VT_EMPTY, 21).result.hServer;
        b_ = group_.Add(L"TEXT", TRUE, VT_EMPTY, 22).result.hServer;
    }
    // The first pass after creation always expires; the passes after it with period 0 do
    // not, so that only completions go out.
    void FirstPass()
    {
        group_.Pass(1000);
        sink_.streams.clear();
    }
    std::vector<ReceivedStream> PassStreams()
    {
        sink_.streams.clear();
        group_.Pass(0);
        return sink_.streams;
    }

    RecordingSink sink_;
    TestTags tags_;
    StreamTestGroup group_;
    OPCHANDLE a_ = 0, b_ = 0;
};

TEST_F(AsyncIOTest, TransactionIdsRunPerServerAndInvalidHandlesDrawNone)
{
    StreamTestGroup other(group_.Server(), L"Other");
    other.AddGood(L"INT");
    EXPECT_EQ(1u, Read(group_, {a_}).id);
    DWORD id = 0;
    EXPECT_EQ(S_OK, other.Async()->Refresh(0, OPC_DS_CACHE, &id));
    EXPECT_EQ(2u, id);
    const Queued refused = Read(other, {0, 77, 10000});
    EXPECT_EQ(OPC_E_INVALIDHANDLE, refused.result);
    EXPECT_EQ((std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE}),
              refused.errors);
    VariantOwner value = I4(1);
    VARIANT v = value.get();
    EXPECT_EQ(3u, Write(other, {0}, &v).id);
}

TEST_F(AsyncIOTest, RefusesBadArguments)
{
    OPCHANDLE handle = a_;
    DWORD id = 0;
    HRESULT* errors = nullptr;
    VARIANT value{};
    IOPCAsyncIO* io = group_.Async();
    EXPECT_EQ(E_INVALIDARG, io->Read(0, OPC_DS_CACHE, 0, &handle, &id, &errors));
    EXPECT_EQ(E_INVALIDARG, io->Read(0, OPC_DS_CACHE, 1, nullptr, &id, &errors));
    EXPECT_EQ(E_INVALIDARG, io->Read(0, OPC_DS_CACHE, 1, &handle, nullptr, &errors));
    EXPECT_EQ(E_INVALIDARG, io->Read(0, OPC_DS_CACHE, 1, &handle, &id, nullptr));
    EXPECT_EQ(E_INVALIDARG, io->Write(0, 0, &handle, &value, &id, &errors));
    EXPECT_EQ(E_INVALIDARG, io->Write(0, 1, &handle, nullptr, &id, &errors));
    EXPECT_EQ(E_INVALIDARG, io->Write(0, 1, &handle, &value, nullptr, &errors));
    EXPECT_EQ(E_INVALIDARG, io->Refresh(0, OPC_DS_CACHE, nullptr));
    EXPECT_EQ(E_FAIL, io->Cancel(12345));
}

TEST_F(AsyncIOTest, AReadIsCompletedByTheNextPassAndOnlyOneWaits)
{
    FirstPass();
    const Queued read = Read(group_, {b_, a_, b_});
    ASSERT_EQ(S_OK, read.result);
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, Read(group_, {a_}).result);
    const std::vector<ReceivedStream> streams = PassStreams();
    ASSERT_EQ(2u, streams.size());
    EXPECT_EQ(DataFormat(), streams[0].format);
    EXPECT_EQ(DataTimeFormat(), streams[1].format);
    for (const ReceivedStream& stream : streams) {
        EXPECT_EQ(read.id, TransactionOf(stream));
        EXPECT_EQ((std::vector<OPCHANDLE>{22, 21, 22}), ClientsOf(stream));
    }
    EXPECT_EQ(S_OK, Read(group_, {a_}).result);
}

// While it lives, no stream block can be had.
class RefusedStreamBlocks {
public:
    RefusedStreamBlocks() : saved_(g_streamBlockAllocation) { g_streamBlockAllocation = Refuse; }
    ~RefusedStreamBlocks() { g_streamBlockAllocation = saved_; }
    RefusedStreamBlocks(const RefusedStreamBlocks&) = delete;
    RefusedStreamBlocks& operator=(const RefusedStreamBlocks&) = delete;

private:
    static HGLOBAL WINAPI Refuse(UINT, SIZE_T) { return nullptr; }
    decltype(&GlobalAlloc) saved_;
};

TEST_F(AsyncIOTest, CompletionsWaitUntilTheirStreamsCanBeBuilt)
{
    FirstPass();
    const Queued read = Read(group_, {a_});
    VariantOwner value = I4(5);
    VARIANT raw = value.get();
    const Queued write = Write(group_, {a_}, &raw);
    DWORD refresh = 0;
    ASSERT_EQ(S_OK, group_.Async()->Refresh(0, OPC_DS_CACHE, &refresh));
    {
        RefusedStreamBlocks refused;
        EXPECT_TRUE(PassStreams().empty());
    }
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, Read(group_, {a_}).result) << "the read still waits";
    const std::vector<ReceivedStream> streams = PassStreams();
    ASSERT_EQ(5u, streams.size());
    const DWORD expected[] = {refresh, refresh, read.id, read.id, write.id};
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(expected[i], TransactionOf(streams[i])) << i;
}

TEST_F(AsyncIOTest, ARefreshQueuedFromWithinACompletionIsDeliveredNext)
{
    FirstPass();
    ASSERT_EQ(S_OK, Read(group_, {a_}).result);
    DWORD next = 0;
    sink_.onFirstStream = [this, &next] {
        if (next == 0) {
            EXPECT_EQ(S_OK, group_.Async()->Refresh(0, OPC_DS_CACHE, &next));
        }
    };
    EXPECT_EQ(2u, PassStreams().size());
    const std::vector<ReceivedStream> streams = PassStreams();
    ASSERT_EQ(2u, streams.size());
    EXPECT_EQ(next, TransactionOf(streams[0]));
    EXPECT_EQ(next, TransactionOf(streams[1]));
}

TEST_F(AsyncIOTest, CancelledRequestsAreDroppedUnsent)
{
    FirstPass();
    const Queued read = Read(group_, {a_});
    EXPECT_EQ(S_OK, group_.Async()->Cancel(read.id));
    EXPECT_TRUE(PassStreams().empty());
    EXPECT_EQ(E_FAIL, group_.Async()->Cancel(read.id));
    const Queued again = Read(group_, {a_});
    ASSERT_EQ(S_OK, again.result);
    EXPECT_EQ(2u, PassStreams().size());
    EXPECT_EQ(E_FAIL, group_.Async()->Cancel(again.id)) << "already delivered";
}

TEST_F(AsyncIOTest, ANewRefreshReplacesThePendingOneAndCarriesTheActiveItems)
{
    FirstPass();
    group_.SetItemActive(a_, FALSE);
    DWORD first = 0, second = 0;
    ASSERT_EQ(S_OK, group_.Async()->Refresh(0, OPC_DS_DEVICE, &first));
    ASSERT_EQ(S_OK, group_.Async()->Refresh(0, OPC_DS_DEVICE, &second));
    const std::vector<ReceivedStream> streams = PassStreams();
    ASSERT_EQ(2u, streams.size());
    for (const ReceivedStream& stream : streams) {
        EXPECT_EQ(second, TransactionOf(stream));
        EXPECT_EQ((std::vector<OPCHANDLE>{22}), ClientsOf(stream));
    }
    DWORD id = 0;
    group_.SetItemActive(b_, FALSE);
    EXPECT_EQ(E_FAIL, group_.Async()->Refresh(0, OPC_DS_CACHE, &id)) << "no active item";
    group_.SetItemActive(b_, TRUE);
    group_.SetGroupActive(FALSE);
    EXPECT_EQ(E_FAIL, group_.Async()->Refresh(0, OPC_DS_CACHE, &id)) << "inactive group";
}

TEST_F(AsyncIOTest, WritesApplyAtOnceAndReportTheirResultsInTheWriteCompleteStream)
{
    FirstPass();
    VariantOwner values[] = {Bstr(L"17"), Bstr(L"x"), I4(5),
                             R8(std::numeric_limits<double>::quiet_NaN()), I4(0)};
    VARIANT raw[] = {values[0].get(), values[1].get(), values[2].get(), values[3].get(),
                     values[4].get()};
    const OPCHANDLE real = group_.Add(L"REAL", TRUE, VT_EMPTY, 23).result.hServer;
    const OPCHANDLE integer = group_.Add(L"A.B", TRUE, VT_EMPTY, 24).result.hServer;
    const OPCHANDLE discrete = group_.Add(L"DISC", TRUE, VT_EMPTY, 25).result.hServer;
    raw[1].vt = VT_DISPATCH;  // no interface pointer may reach the item
    raw[1].pdispVal = nullptr;
    Queued write{};
    {
        TestTagRecords records;
        records[0].writeInhibit = 1;  // DISC
        write = Write(group_, {a_, real, b_, integer, discrete}, raw);
    }
    raw[1] = values[1].get();
    ASSERT_EQ(S_OK, write.result);
    EXPECT_EQ((std::vector<HRESULT>(5, S_OK)), write.errors) << "handles only";
    EXPECT_EQ(17, group_.Read(a_).value.get().lVal) << "visible before the completion";
    EXPECT_EQ(9, group_.Read(integer).value.get().lVal) << "NaN is no integer: nothing written";
    const std::vector<ReceivedStream> streams = PassStreams();
    ASSERT_EQ(1u, streams.size());
    const ReceivedStream& stream = streams[0];
    EXPECT_EQ(WriteCompleteFormat(), stream.format);
    ASSERT_EQ(16u + 8 * 5, stream.bytes.size());
    EXPECT_EQ(5u, At<DWORD>(stream.bytes, 0));
    EXPECT_EQ(7u, At<DWORD>(stream.bytes, 4));
    EXPECT_EQ(write.id, TransactionOf(stream));
    // The answers a synchronous write gives, not the conversion's own codes.
    const struct {
        OPCHANDLE client;
        HRESULT error;
    } expected[] = {
        {21, S_OK}, {23, OPC_E_BADTYPE}, {22, S_OK}, {24, OPC_E_RANGE}, {25, OPC_E_BADRIGHTS}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(expected[i].client, At<DWORD>(stream.bytes, 16 + 8 * i));
        EXPECT_EQ(expected[i].error, At<HRESULT>(stream.bytes, 20 + 8 * i));
    }
}

TEST_F(AsyncIOTest, CacheReadsOfAnInactiveGroupAreOutOfService)
{
    const struct {
        OPCDATASOURCE source;
        WORD quality;
    } cases[] = {{OPC_DS_CACHE, OPC_QUALITY_OUT_OF_SERVICE}, {OPC_DS_DEVICE, OPC_QUALITY_GOOD}};
    FirstPass();
    group_.SetGroupActive(FALSE);
    for (const auto& c : cases) {
        ASSERT_EQ(S_OK, Read(group_, {a_, b_}, c.source).result);
        const std::vector<ReceivedStream> streams = PassStreams();
        ASSERT_EQ(2u, streams.size()) << "completed although the group is inactive";
        for (const ReceivedStream& stream : streams) {
            for (const StreamItem& item : ItemsOf(stream)) EXPECT_EQ(c.quality, item.quality);
        }
    }
}

TEST_F(AsyncIOTest, ReadsWaitForADataSink)
{
    RecordingSink writeOnly;
    StreamTestGroup group(group_.Server(), L"WriteOnly");
    ASSERT_EQ(S_OK, group.Advise(WriteCompleteFormat(), &writeOnly));
    const OPCHANDLE handle = group.AddGood(L"INT");
    ASSERT_EQ(S_OK, Read(group, {handle}).result);
    group.Pass();
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, Read(group, {handle}).result);
    EXPECT_TRUE(writeOnly.streams.empty());
    // The fixture's server keeps the group, and so the connection, longer than this sink lives.
    EXPECT_EQ(S_OK, group.Data()->DUnadvise(WriteCompleteFormat()));
}

TEST_F(AsyncIOTest, RemovedItemsLeaveTheirRequests)
{
    FirstPass();
    const Queued read = Read(group_, {a_, b_, a_});
    VariantOwner value = I4(3);
    VARIANT raw[] = {value.get()};
    ASSERT_EQ(S_OK, Write(group_, {a_}, raw).result);
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, group_.Items()->RemoveItems(1, &a_, errors.out()));
    // The slot is taken again by another item, which no request names.
    EXPECT_EQ(a_, group_.Add(L"REAL", TRUE, VT_EMPTY, 29).result.hServer);
    const std::vector<ReceivedStream> streams = PassStreams();
    ASSERT_EQ(2u, streams.size()) << "no write completion without items";
    for (const ReceivedStream& stream : streams) {
        EXPECT_EQ(read.id, TransactionOf(stream));
        EXPECT_EQ((std::vector<OPCHANDLE>{22}), ClientsOf(stream));
    }
    EXPECT_EQ(S_OK, Write(group_, {a_}, raw).result) << "the write record is free again";
}

TEST(AsyncIOWithoutServer, RequestsFailWhenTheServerObjectIsGone)
{
    TestTags tags;
    ComPtr<IOPCAsyncIO> io;
    OPCHANDLE handle = 0;
    {
        StreamTestGroup group;
        handle = group.AddGood(L"INT");
        io = group.Async();
    }
    DWORD id = 0;
    HRESULT* errors = nullptr;
    VariantOwner value = I4(1);
    VARIANT raw = value.get();
    EXPECT_EQ(CO_E_OBJNOTCONNECTED, io->Read(0, OPC_DS_CACHE, 1, &handle, &id, &errors));
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(CO_E_OBJNOTCONNECTED, io->Write(0, 1, &handle, &raw, &id, &errors));
    EXPECT_EQ(CO_E_OBJNOTCONNECTED, io->Refresh(0, OPC_DS_CACHE, &id));
    EXPECT_EQ(0u, id);
}

}  // namespace
