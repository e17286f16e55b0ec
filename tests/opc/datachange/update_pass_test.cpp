#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>

#include "opc/datachange/group_streams.h"
#include "opc/group/group_object.h"
#include "opc/items/item_object.h"
#include "opc/server/server_table.h"
#include "opc/values/tag_lookup.h"
#include "opc_error.h"
#include "runtime_link/tag_mirror.h"
#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/datachange/stream_bytes.h"
#include "tests/opc/datachange/stream_test_group.h"
#include "tests/opc/datachange/viewer_gone.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/values/variant_maker.h"

namespace {

constexpr int kIntSlot = 1;
constexpr int kTextSlot = 6;

class UpdatePassTest : public ::testing::Test {
protected:
    MirrorEntry& Entry(int slot) { return *g_tagMirror[slot]; }

    RecordingSink sink_;  // outlives the group, which holds it
    TestTags tags_;
    StreamTestGroup group_;
};

TEST_F(UpdatePassTest, GroupsSendOnTheirCountdownSchedule)
{
    const struct {
        DWORD rate;
        int32_t period;
        std::set<int> sendingPasses;  // of passes 1..7
    } cases[] = {
        {500, 1000, {1, 2, 3, 4, 5, 6, 7}}, {2500, 1000, {1, 4, 7}}, {1500, 1000, {1, 3, 5, 7}},
        {0, 1000, {1, 2, 3, 4, 5, 6, 7}},   {1000, 250, {1, 5}},
    };
    for (const auto& c : cases) {
        RecordingSink sink;
        StreamTestGroup group;
        ASSERT_EQ(S_OK, group.Advise(DataTimeFormat(), &sink));
        group.AddGood(L"INT");
        ComPtr<IOPCGroupStateMgt> state;
        ASSERT_EQ(S_OK, group.Items()->QueryInterface(IID_PPV_ARGS(&state)));
        DWORD rate = c.rate, revised = 0;
        // Rate 0 is raised to the poll timer's period: OPC_S_UNSUPPORTEDRATE.
        ASSERT_HRESULT_SUCCEEDED(
            state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr));
        std::set<int> sent;
        for (int pass = 1; pass <= 7; ++pass) {
            const size_t before = sink.streams.size();
            group.Pass(c.period);
            if (sink.streams.size() > before) sent.insert(pass);
        }
        EXPECT_EQ(c.sendingPasses, sent) << "rate " << c.rate << ", period " << c.period;
    }
}

TEST_F(UpdatePassTest, StreamsCarryTheActiveItemsWithTimeFirst)
{
    ASSERT_EQ(S_OK, group_.Advise(DataFormat(), &sink_));
    ASSERT_EQ(S_OK, group_.Advise(DataTimeFormat(), &sink_));
    // Handles 0..3: the inactive one stays out; the text cannot be a real number.
    group_.Add(L"INT", TRUE, VT_EMPTY, 11);
    group_.Add(L"TEXT", FALSE, VT_EMPTY, 12);
    group_.Add(L"REAL", TRUE, VT_I4, 13);
    group_.Add(L"TEXT", TRUE, VT_R4, 14);
    group_.Pass();
    ASSERT_EQ(2u, sink_.streams.size());
    EXPECT_EQ(DataTimeFormat(), sink_.streams[0].format);
    EXPECT_EQ(DataFormat(), sink_.streams[1].format);
    for (const ReceivedStream& stream : sink_.streams) {
        EXPECT_EQ(static_cast<DWORD>(TYMED_HGLOBAL), stream.tymed);
        EXPECT_EQ(At<DWORD>(stream.bytes, 0), stream.bytes.size()) << "dwSize";
        EXPECT_EQ(3u, At<DWORD>(stream.bytes, 4));
        EXPECT_EQ(7u, At<DWORD>(stream.bytes, 8)) << "the group's client handle";
        EXPECT_EQ(0u, TransactionOf(stream));
        EXPECT_EQ(S_OK, At<HRESULT>(stream.bytes, 16));
        const std::vector<StreamItem> items = ItemsOf(stream);
        ASSERT_EQ(3u, items.size());
        const struct {
            OPCHANDLE client;
            WORD quality;
            VARTYPE vt;
        } expected[] = {{11, OPC_QUALITY_GOOD, VT_I4},
                        {13, OPC_QUALITY_GOOD, VT_I4},
                        {14, OPC_QUALITY_BAD, VT_BSTR}};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(expected[i].client, items[i].client);
            EXPECT_EQ(expected[i].quality, items[i].quality);
            EXPECT_EQ(expected[i].vt, items[i].vt);
        }
        EXPECT_EQ(42, items[0].i4);
        EXPECT_EQ(2, items[1].i4) << "1.5 as a whole number";
    }
    // An unchanged value is still sent every period.
    group_.Pass();
    EXPECT_EQ(4u, sink_.streams.size());
}

TEST_F(UpdatePassTest, EachSinkClearsOnlyItsOwnBit)
{
    ASSERT_EQ(S_OK, group_.Advise(DataFormat(), &sink_));
    const OPCHANDLE handle = group_.AddGood(L"INT");
    group_.Pass();
    ASSERT_EQ(1u, sink_.streams.size());
    EXPECT_EQ(DataFormat(), sink_.streams[0].format);
    EXPECT_EQ(kOwedToDataTimeSink, group_.Item(handle)->ChangeMask() & kOwedToBothSinks);
}

TEST_F(UpdatePassTest, InactiveGroupsRefreshAndPostButSendNothing)
{
    ASSERT_EQ(S_OK, group_.Advise(DataTimeFormat(), &sink_));
    const OPCHANDLE text = group_.AddGood(L"TEXT");
    const OPCHANDLE integer = group_.AddGood(L"INT");
    group_.SetGroupActive(FALSE);
    EXPECT_EQ(S_OK, group_.Write(text, Bstr(L"new").get()));
    Entry(kIntSlot).value.integer = 99;
    group_.Pass();
    EXPECT_TRUE(sink_.streams.empty());
    EXPECT_EQ(99, group_.Read(integer, OPC_DS_DEVICE).value.get().lVal);
    EXPECT_EQ(1, Entry(kTextSlot).writePending);
    EXPECT_STREQ(L"new", Entry(kTextSlot).value.text);
    EXPECT_FALSE(group_.Item(text)->WritePending());

    group_.SetGroupActive(TRUE);
    group_.Pass();
    ASSERT_EQ(1u, sink_.streams.size());
    EXPECT_EQ(2u, ItemsOf(sink_.streams[0]).size());
}

TEST_F(UpdatePassTest, InactiveItemsAreNeitherRefreshedNorSentButTheirWritesArePosted)
{
    ASSERT_EQ(S_OK, group_.Advise(DataTimeFormat(), &sink_));
    group_.AddGood(L"TEXT");
    const OPCHANDLE integer = group_.AddGood(L"INT", FALSE);
    // Passes that find nothing changed leave the group refreshing only items of changed tags.
    group_.Pass();
    group_.Pass();
    sink_.streams.clear();
    EXPECT_EQ(S_OK, group_.Write(integer, I4(5).get()));
    group_.Pass();
    EXPECT_EQ(1, Entry(kIntSlot).writePending) << "posted at the next expiry";
    EXPECT_EQ(5, Entry(kIntSlot).value.integer);
    EXPECT_FALSE(group_.Item(integer)->WritePending());
    EXPECT_EQ(0, group_.Item(integer)->ChangeMask());
    ASSERT_EQ(1u, sink_.streams.size());
    EXPECT_EQ(1u, ItemsOf(sink_.streams[0]).size()) << "the inactive item is not sent";

    Entry(kIntSlot).writePending = 0;  // as the poll cycle leaves it
    Entry(kIntSlot).value.integer = 99;
    group_.Pass();
    EXPECT_EQ(5, group_.Read(integer, OPC_DS_DEVICE).value.get().lVal) << "nor refreshed";

    group_.SetItemActive(integer, TRUE);
    group_.Pass();
    ASSERT_EQ(3u, sink_.streams.size());
    EXPECT_EQ(99, ItemsOf(sink_.streams[2])[1].i4);
}

TEST_F(UpdatePassTest, LongTextsAreCutToTheMirrorEntryWithoutSplittingAPair)
{
    const std::wstring pair = L"\xD83D\xDE00";
    const struct {
        std::wstring text;
        std::wstring posted;
    } cases[] = {
        {std::wstring(200, L'x'), std::wstring(131, L'x')},
        {std::wstring(130, L'x') + pair + L"yy", std::wstring(130, L'x')},
        {std::wstring(129, L'x') + pair + L"yy", std::wstring(129, L'x') + pair},
        {L"short", L"short"},
    };
    const OPCHANDLE text = group_.AddGood(L"TEXT");
    for (const auto& c : cases) {
        Entry(kTextSlot).writePending = 0;
        EXPECT_EQ(S_OK, group_.Write(text, Bstr(c.text).get()));
        group_.Pass();
        EXPECT_EQ(1, Entry(kTextSlot).writePending);
        EXPECT_EQ(c.posted, std::wstring(Entry(kTextSlot).value.text));
    }
}

TEST_F(UpdatePassTest, TimestampsMoveWhenTheValueChangesAndOnlyThen)
{
    const OPCHANDLE integer = group_.AddGood(L"INT");
    const OPCHANDLE text = group_.AddGood(L"TEXT");
    const ULONGLONG added = Ticks(group_.Read(text).time);
    const FILETIME cycles[] = {{1000, 1}, {2000, 1}, {3000, 1}, {4000, 1}};
    group_.Pass(1000, cycles[0]);
    EXPECT_EQ(added, Ticks(group_.Read(text).time)) << "the values were as added";

    Entry(kIntSlot).value.integer = 43;
    group_.Pass(1000, cycles[1]);
    EXPECT_EQ(Ticks(cycles[1]), Ticks(group_.Read(integer).time));
    EXPECT_EQ(added, Ticks(group_.Read(text).time));

    Entry(kTextSlot).value.text[2] = L'd';
    group_.Pass(1000, cycles[2]);
    EXPECT_EQ(Ticks(cycles[1]), Ticks(group_.Read(integer).time)) << "unchanged since";
    EXPECT_EQ(Ticks(cycles[2]), Ticks(group_.Read(text).time));

    // A client's write is stamped when it is made; posting it changes nothing of that.
    EXPECT_EQ(S_OK, group_.Write(integer, I4(7).get()));
    const ULONGLONG written = Ticks(group_.Read(integer).time);
    group_.Pass(1000, cycles[3]);
    Entry(kIntSlot).writePending = 0;  // as the poll cycle leaves it
    group_.Pass(1000, cycles[3]);
    EXPECT_EQ(written, Ticks(group_.Read(integer).time));
}

TEST_F(UpdatePassTest, WithoutTheViewerQualitiesAreBadAndWritesRefused)
{
    ASSERT_EQ(S_OK, group_.Advise(DataTimeFormat(), &sink_));
    const OPCHANDLE integer = group_.AddGood(L"INT");
    const FILETIME lost{1000, 1}, back{2000, 1};
    {
        ViewerGone gone;
        EXPECT_EQ(OPC_QUALITY_COMM_FAILURE, group_.Read(integer, OPC_DS_DEVICE).quality)
            << "at once, before any pass";
        EXPECT_EQ(OPC_SERVER_E_VIEWER_NOT_RUNNING, group_.Write(integer, I4(5).get()));
        group_.Pass(1000, lost);
        ASSERT_EQ(1u, sink_.streams.size());
        EXPECT_EQ(OPC_QUALITY_COMM_FAILURE, ItemsOf(sink_.streams[0])[0].quality);
        EXPECT_EQ(42, ItemsOf(sink_.streams[0])[0].i4) << "the last known value";
        EXPECT_EQ(Ticks(lost), Ticks(group_.Read(integer).time)) << "the quality changed then";
    }
    group_.Pass(1000, back);
    EXPECT_EQ(OPC_QUALITY_GOOD, ItemsOf(sink_.streams[1])[0].quality);
    EXPECT_EQ(Ticks(back), Ticks(group_.Read(integer).time));
    EXPECT_EQ(S_OK, group_.Write(integer, I4(5).get()));
}

TEST_F(UpdatePassTest, OfSeveralClientsWritesToOneTagTheLastMadeWins)
{
    // group_ holds slot 0, which the pass visits first; the earlier writes go to slot 1.
    ItemTestGroup earlier(group_.Server(), L"Earlier");
    const OPCHANDLE first = earlier.AddGood(L"INT");
    const OPCHANDLE last = group_.AddGood(L"INT");
    ASSERT_EQ(S_OK, earlier.Write(first, I4(1).get()));
    ASSERT_EQ(S_OK, group_.Write(last, I4(2).get()));
    UpdateAllServers(1000);
    EXPECT_EQ(1, Entry(kIntSlot).writePending);
    EXPECT_EQ(2, Entry(kIntSlot).value.integer);

    // An older write posted after a newer one, as its item is removed, does not overwrite it.
    ASSERT_EQ(S_OK, earlier.Write(first, I4(3).get()));
    ASSERT_EQ(S_OK, group_.Write(last, I4(4).get()));
    group_.Pass();
    Entry(kIntSlot).writePending = 0;  // as the poll cycle leaves it
    OPCHANDLE removed = first;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, earlier.Items()->RemoveItems(1, &removed, errors.out()));
    EXPECT_EQ(0, Entry(kIntSlot).writePending);
    EXPECT_EQ(4, Entry(kIntSlot).value.integer);
}

TEST(UpdatePassCallbacks, AClientMayLetGoOfEverythingFromWithinOnDataChange)
{
    RecordingSink sink;
    TestTags tags;
    auto group = std::make_unique<StreamTestGroup>();
    group->AddGood(L"INT");
    ASSERT_EQ(S_OK, group->Advise(DataTimeFormat(), &sink));
    ASSERT_EQ(S_OK, group->Advise(DataFormat(), &sink));
    // The client releases its server object and group while the server calls it.
    sink.onFirstStream = [&group] { group.reset(); };
    UpdateAllServers(1000);
    ASSERT_FALSE(group);
    EXPECT_EQ(2u, sink.streams.size()) << "the pass under way finishes";
    EXPECT_EQ(0u, sink.refs()) << "then the group goes with its server";
}

// A received stream without the bytes that differ from one read of the same items to the next:
// the addresses string values had in the server, and in values converted to a requested type
// the reserved words and the value's unused bytes (VariantChangeType leaves them as they were
// in its own memory).
std::vector<BYTE> WithoutUnsetBytes(const ReceivedStream& stream,
                                    const std::set<OPCHANDLE>& converted)
{
    std::vector<BYTE> bytes = stream.bytes;
    for (const StreamItem& item : ItemsOf(stream)) {
        BYTE* block = &bytes[item.valueOffset];
        if (item.vt == VT_BSTR) std::memset(block + 8, 0, 8);
        if (!converted.count(item.client)) continue;
        const size_t used = item.vt == VT_BOOL ? 2 : (item.vt == VT_I4 || item.vt == VT_R4) ? 4 : 8;
        std::memset(block + 2, 0, 6);
        std::memset(block + 8 + used, 0, 8 - used);
    }
    return bytes;
}

// The pass keeps a value its tag did not change and copies its last streams, rewriting only
// the items that changed; the streams must be what reading each item one by one gives, and
// every refreshed value what a fresh read of its mirror entry gives, through changed, overlaid
// (a retyped record) and unchanged values, texts growing and shrinking, client writes, requested
// types, client handles, active flags of items and of the group, items added and removed, the
// mirror indexed anew, the Viewer gone and back, sinks let go of and advised again, and passes
// in which nothing changed at all.
TEST_F(UpdatePassTest, StreamsAndValuesMatchTheItemsReadOneByOne)
{
    ASSERT_EQ(S_OK, group_.Advise(DataFormat(), &sink_));
    ASSERT_EQ(S_OK, group_.Advise(DataTimeFormat(), &sink_));
    ComPtr<IOPCGroupStateMgt> state;
    ASSERT_EQ(S_OK, group_.Items()->QueryInterface(IID_PPV_ARGS(&state)));
    const wchar_t* names[] = {L"DISC", L"INT", L"REAL", L"TANK1", L"TEXT", L"\x6C34\x4F4D"};
    const VARTYPE requested[] = {VT_EMPTY, VT_EMPTY, VT_EMPTY, VT_I4, VT_R8, VT_BSTR, VT_BOOL};
    std::mt19937 random(12);
    const auto pick = [&random](size_t count) { return static_cast<size_t>(random() % count); };
    OPCHANDLE nextClient = 100;
    std::vector<OPCHANDLE> handles;
    const auto add = [&] {
        handles.push_back(group_.Add(names[pick(6)], pick(4) != 0, requested[pick(7)], nextClient++)
                              .result.hServer);
    };
    for (int i = 0; i < 60; ++i) add();
    std::optional<ViewerGone> gone;
    bool groupActive = true;
    std::set<CLIPFORMAT> advised = {DataFormat(), DataTimeFormat()};
    // Each pass makes changes of one kind, so that no other change has the streams read anew
    // and hides a change missed; kind 0 changes nothing.
    for (int pass = 0; pass < 600; ++pass) {
        SCOPED_TRACE(pass);
        switch (pick(14)) {
        case 1:
            Entry(0).value.integer = static_cast<int32_t>(pick(3));
            Entry(kIntSlot).value.integer = static_cast<int32_t>(pick(4));
            Entry(2).value.real = static_cast<float>(pick(4)) / 4;
            break;
        case 2:
            std::wmemcpy(Entry(kIntSlot).value.text, L"overlaid", 9);  // retyped to a string
            break;
        case 3: {
            const std::wstring text(pick(12), static_cast<wchar_t>(L'a' + pick(3)));
            std::wmemcpy(Entry(kTextSlot).value.text, text.c_str(), text.size() + 1);
            break;
        }
        case 4:
            for (int i = 0; i < 5; ++i) {
                group_.Write(handles[pick(handles.size())], I4(static_cast<LONG>(pick(9))).get());
            }
            break;
        case 5: {
            const OPCHANDLE handle = handles[pick(handles.size())];
            group_.SetItemActive(handle, !group_.Item(handle)->Active());
            break;
        }
        case 6:
            group_.SetRequestedType(handles[pick(handles.size())], requested[pick(7)]);
            break;
        case 7: {
            OPCHANDLE handle = handles[pick(handles.size())];
            OPCHANDLE client = nextClient++;
            HRESULT* errors = nullptr;
            ASSERT_EQ(S_OK, group_.Items()->SetClientHandles(1, &handle, &client, &errors));
            CoTaskMemFree(errors);
            break;
        }
        case 8: {
            const size_t at = pick(handles.size());
            OPCHANDLE handle = handles[at];
            HRESULT* errors = nullptr;
            ASSERT_EQ(S_OK, group_.Items()->RemoveItems(1, &handle, &errors));
            CoTaskMemFree(errors);
            handles.erase(handles.begin() + static_cast<std::ptrdiff_t>(at));
            add();
            break;
        }
        case 9: {
            OPCHANDLE client = nextClient++;
            DWORD revised = 0;
            ASSERT_EQ(S_OK, state->SetState(nullptr, &revised, nullptr, nullptr, nullptr, nullptr,
                                            &client));
            break;
        }
        case 10:
            groupActive = !groupActive;
            group_.SetGroupActive(groupActive);
            break;
        case 11:
            if (pick(2)) {
                // The same tags in a mirror indexed anew: every item looks its tag up again.
                IndexTagMirror(static_cast<int32_t>(KindTags().size()));
            } else if (gone) {
                gone.reset();
            } else {
                gone.emplace();
            }
            break;
        case 12:
        case 13: {
            // A sink let go of or advised again; with neither, the pass only refreshes.
            const CLIPFORMAT format = pick(2) ? DataFormat() : DataTimeFormat();
            if (advised.erase(format)) {
                ASSERT_EQ(S_OK, group_.Data()->DUnadvise(format));
            } else {
                ASSERT_EQ(S_OK, group_.Advise(format, &sink_));
                advised.insert(format);
            }
            break;
        }
        default:
            break;
        }
        bool pending = false;  // a write the pass posts
        for (OPCHANDLE handle : handles) pending = pending || group_.Item(handle)->WritePending();
        sink_.streams.clear();
        group_.Pass();
        for (int slot = 0; slot < 8; ++slot) Entry(slot).writePending = 0;

        std::vector<OPCHANDLE> active;
        std::set<OPCHANDLE> converted;  // client handles
        for (OPCHANDLE handle : handles) {
            const ItemObject& item = *group_.Item(handle);
            if (item.Active()) active.push_back(handle);
            if (item.RequestedType() != VT_EMPTY) converted.insert(item.ClientHandle());
        }
        std::sort(active.begin(), active.end());  // the streams' order
        StreamItemList list;
        ASSERT_TRUE(ReadStreamItems(group_.Object(), active.data(),
                                    static_cast<DWORD>(active.size()), kOwedToDataSink, list));
        ASSERT_EQ(active.empty() || !groupActive ? 0u : advised.size(), sink_.streams.size());
        for (const ReceivedStream& stream : sink_.streams) {
            const DataStreamFormat format = stream.format == DataTimeFormat()
                                                ? DataStreamFormat::DataTime
                                                : DataStreamFormat::Data;
            const StreamBlock expected =
                BuildDataStream(format, group_.Object().ClientHandle(), 0, list.items);
            const ReceivedStream one{stream.format, TYMED_HGLOBAL,
                                     BytesOf(expected, DataStreamSize(format, list.items)), 0};
            EXPECT_EQ(WithoutUnsetBytes(one, converted), WithoutUnsetBytes(stream, converted));
        }
        // A written value is posted, not re-read: only after a pass that posts nothing does
        // every item hold its entry's value.
        if (pending) continue;
        for (OPCHANDLE handle : active) {
            const ItemObject& item = *group_.Item(handle);
            VariantOwner fresh;
            ASSERT_EQ(S_OK, ValueOfMirrorEntry(*g_tagMirror[FindTagOfItemId(item.ItemId())],
                                               fresh.Receive()));
            const VARIANT& held = *item.ReadSource().value;
            EXPECT_TRUE(SameItemValue(held, fresh.get())) << item.ItemId();
            // A string's address is its own; every other byte a stream carries is the same.
            const size_t streamed = fresh.vt() == VT_BSTR ? 8 : 16;
            EXPECT_EQ(0, std::memcmp(&held, &fresh.get(), streamed)) << item.ItemId();
        }
    }
}

// An item finds its tag by name once; when the mirror is built anew it finds it again, in
// whatever slot the tag now is, or not at all.
TEST(UpdatePassTagSlots, ItemsFindTheirTagsAgainWhenTheMirrorIsRebuilt)
{
    RecordingSink sink;
    std::optional<TestTags> tags(std::in_place);
    StreamTestGroup group;
    ASSERT_EQ(S_OK, group.Advise(DataTimeFormat(), &sink));
    const OPCHANDLE integer = group.AddGood(L"INT");
    const OPCHANDLE text = group.AddGood(L"TEXT");
    group.Pass();
    ASSERT_EQ(1u, sink.streams.size());

    tags.reset();
    std::vector<TestTag> moved = KindTags();
    std::swap(moved[0], moved[1]);  // INT now in slot 0
    moved[1].integer = 17;          // and DISC, in slot 1, is 17
    moved[6].name = L"RENAMED";     // TEXT is gone
    tags.emplace(moved);
    group.Pass();
    ASSERT_EQ(2u, sink.streams.size());
    const std::vector<StreamItem> items = ItemsOf(sink.streams[1]);
    ASSERT_EQ(1u, items.size()) << "an item whose tag is gone is neither refreshed nor sent";
    EXPECT_EQ(42, items[0].i4);
    EXPECT_EQ(42, group.Read(integer).value.get().lVal);
    EXPECT_STREQ(L"abc", group.Read(text).value.get().bstrVal) << "its last value";
}

}  // namespace
