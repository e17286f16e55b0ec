#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <limits>
#include <string>

#include "opc/group/group_object.h"
#include "opc/items/item_object.h"
#include "opc/values/call_limits.h"
#include "opc_error.h"
#include "tests/opc/group/item_test_group.h"
#include "tests/opc/group/refusing_allocator.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/values/variant_maker.h"

namespace {

class SyncIOTest : public ::testing::Test {
protected:
    TestTags tags_;
    ItemTestGroup group_;
};

TEST_F(SyncIOTest, QualityFollowsSourceActiveFlagsAndConversion)
{
    const struct {
        BOOL groupActive;
        BOOL itemActive;
        OPCDATASOURCE source;
        VARTYPE requested;  // VT_DATE cannot be made of the text "abc"
        WORD quality;
        HRESULT error;
    } cases[] = {
        {TRUE, TRUE, OPC_DS_CACHE, VT_EMPTY, OPC_QUALITY_GOOD, S_OK},
        {TRUE, FALSE, OPC_DS_CACHE, VT_EMPTY, OPC_QUALITY_OUT_OF_SERVICE, S_OK},
        {FALSE, TRUE, OPC_DS_CACHE, VT_EMPTY, OPC_QUALITY_OUT_OF_SERVICE, S_OK},
        {FALSE, FALSE, OPC_DS_DEVICE, VT_EMPTY, OPC_QUALITY_GOOD, S_OK},
        {TRUE, FALSE, OPC_DS_DEVICE, VT_EMPTY, OPC_QUALITY_GOOD, S_OK},
        {TRUE, TRUE, OPC_DS_CACHE, VT_DATE, OPC_QUALITY_BAD, DISP_E_TYPEMISMATCH},
        {TRUE, TRUE, OPC_DS_DEVICE, VT_I4, OPC_QUALITY_BAD, DISP_E_TYPEMISMATCH},
        {FALSE, TRUE, OPC_DS_CACHE, VT_I4, OPC_QUALITY_OUT_OF_SERVICE, DISP_E_TYPEMISMATCH},
        {FALSE, TRUE, OPC_DS_DEVICE, VT_I4, OPC_QUALITY_BAD, DISP_E_TYPEMISMATCH},
    };
    for (const auto& c : cases) {
        ItemTestGroup group;
        group.SetGroupActive(c.groupActive);
        const OPCHANDLE handle = group.AddGood(L"TEXT", c.itemActive, c.requested);
        const ReadOutcome read = group.Read(handle, c.source);
        const std::string label = "group " + std::to_string(c.groupActive) + " item " +
                                  std::to_string(c.itemActive) + " source " +
                                  std::to_string(c.source) + " type " + std::to_string(c.requested);
        EXPECT_EQ(c.quality, read.quality) << label;
        EXPECT_EQ(c.error, read.error) << label;
        EXPECT_EQ(VT_BSTR, read.value.vt()) << label << ": a failed conversion keeps the text";
        EXPECT_STREQ(L"abc", read.value.get().bstrVal) << label;
    }
}

TEST_F(SyncIOTest, ReadDeliversClientHandleAndTheTimeOfCreationOrOfTheLastWrite)
{
    const ULONGLONG beforeAdd = NowTicks();
    const AddOutcome added = group_.Add(L"REAL", TRUE, VT_EMPTY, 1234);
    const ULONGLONG afterAdd = NowTicks();
    const OPCHANDLE handle = added.result.hServer;
    const ReadOutcome first = group_.Read(handle);
    EXPECT_EQ(1234u, first.client);
    EXPECT_GE(Ticks(first.time), beforeAdd);
    EXPECT_LE(Ticks(first.time), afterAdd);
    EXPECT_EQ(Ticks(first.time), Ticks(group_.Read(handle).time)) << "a read changes nothing";

    Sleep(20);
    const ULONGLONG beforeWrite = NowTicks();
    ASSERT_EQ(S_OK, group_.Write(handle, Bstr(L"12.5").get()));
    const ReadOutcome written = group_.Read(handle);
    EXPECT_GE(Ticks(written.time), beforeWrite);
    EXPECT_EQ(VT_R4, written.value.vt());
    EXPECT_EQ(12.5f, written.value.get().fltVal) << "visible to a read at once";
    EXPECT_EQ(OPC_QUALITY_GOOD, written.quality);
}

// The answers are those of every write path (ValueForTagWrite): a value the tag cannot take,
// or a tag that takes none, is refused and nothing of it is written.
TEST_F(SyncIOTest, WritesConvertToTheCanonicalTypeOrFailKeepingTheValue)
{
    VariantOwner array;
    {
        VARIANT* value = array.Receive();
        value->vt = VT_ARRAY | VT_I4;
        value->parray = SafeArrayCreateVector(VT_I4, 0, 2);
    }
    LONG referenced = 5;
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const struct {
        const wchar_t* itemId;
        VariantOwner value;
        bool inhibited;  // the tag's record refuses client writes
        HRESULT error;
        std::wstring stored;  // the item's value afterwards, as text
    } cases[] = {
        {L"REAL", Bstr(L"12.5"), false, S_OK, L"12.5"},
        {L"INT", R8(3.5), false, S_OK, L"4"},
        {L"INT", R8(2.5), false, S_OK, L"2"},
        {L"INT", R8(-2.5), false, S_OK, L"-2"},
        {L"INT", R8(1e10), false, OPC_E_RANGE, L"42"},
        {L"INT", R8(-2147483648.0), false, S_OK, L"-2147483648"},
        {L"INT", R8(2147483648.0), false, OPC_E_RANGE, L"42"},
        {L"INT", MakeVariant(VT_UI4, [](VARIANT& v) { v.ulVal = 0x80000000u; }), false,
         OPC_E_RANGE, L"42"},
        {L"INT", MakeVariant(VT_I8, [](VARIANT& v) { v.llVal = -2147483649LL; }), false,
         OPC_E_RANGE, L"42"},
        {L"INT", Bstr(L"2147483648"), false, OPC_E_RANGE, L"42"},
        {L"INT", Bstr(L"1e10"), false, OPC_E_RANGE, L"42"},
        {L"INT", R8(kNaN), false, OPC_E_RANGE, L"42"},
        {L"INT", R4(std::numeric_limits<float>::quiet_NaN()), false, OPC_E_RANGE, L"42"},
        {L"INT", R8(-kInfinity), false, OPC_E_RANGE, L"42"},
        {L"INT", MakeVariant(VT_DATE, [kNaN](VARIANT& v) { v.date = kNaN; }), false, OPC_E_RANGE,
         L"42"},
        {L"INT", Bstr(L"abc"), false, OPC_E_BADTYPE, L"42"},
        {L"INT", std::move(array), false, OPC_E_BADTYPE, L"42"},
        {L"INT",
         MakeVariant(VT_BYREF | VT_I4, [&referenced](VARIANT& v) { v.plVal = &referenced; }),
         false, OPC_E_BADTYPE, L"42"},
        {L"INT", MakeVariant(VT_UNKNOWN, [](VARIANT& v) { v.punkVal = nullptr; }), false,
         OPC_E_BADTYPE, L"42"},
        {L"INT", MakeVariant(0x7FFF, [](VARIANT&) {}), false, OPC_E_BADTYPE, L"42"},
        {L"INT", I4(5), true, OPC_E_BADRIGHTS, L"42"},
        {L"INT", Bstr(L"abc"), true, OPC_E_BADRIGHTS, L"42"},
        {L"DISC", Bool(VARIANT_TRUE), false, S_OK, L"-1"},
        {L"DISC", I4(1), false, S_OK, L"-1"},
        {L"DISC", I4(0), false, S_OK, L"0"},
        {L"DISC", R8(kNaN), false, OPC_E_RANGE, L"1"},
        {L"DISC", R8(kInfinity), false, OPC_E_RANGE, L"1"},
        {L"DISC", I4(0), true, OPC_E_BADRIGHTS, L"1"},
        {L"REAL", R8(1e39), false, OPC_E_RANGE, L"1.5"},
        {L"REAL", R8(kInfinity), false, OPC_E_RANGE, L"1.5"},
        {L"REAL", R4(-std::numeric_limits<float>::infinity()), false, OPC_E_RANGE, L"1.5"},
        {L"REAL", R8(3.4e38), false, S_OK, L"3.4E+38"},
        {L"TEXT", I4(5), false, S_OK, L"5"},
        {L"TEXT", R4(0.5f), false, S_OK, L"0.5"},
        {L"TEXT", I4(5), true, OPC_E_BADRIGHTS, L"abc"},
    };
    TestTagRecords records;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        const OPCHANDLE handle = group_.AddGood(c.itemId, TRUE, VT_BSTR);
        const VARTYPE canonical = group_.Item(handle)->CanonicalType();
        records[group_.Item(handle)->TagSlot()].writeInhibit = c.inhibited ? 1 : 0;
        EXPECT_EQ(c.error, group_.Write(handle, c.value.get())) << c.itemId << " " << c.stored;
        EXPECT_EQ(c.stored, group_.Read(handle).value.get().bstrVal) << c.itemId;
        EXPECT_EQ(c.error == S_OK, group_.Item(handle)->WritePending()) << c.itemId;
        group_.SetRequestedType(handle, VT_EMPTY);
        EXPECT_EQ(canonical, group_.Read(handle).value.vt()) << "the item keeps its type";
        records[group_.Item(handle)->TagSlot()].writeInhibit = 0;
    }
    EXPECT_EQ(5, referenced);

    // A real holds NaN: written as it is.
    const OPCHANDLE real = group_.AddGood(L"REAL");
    EXPECT_EQ(S_OK, group_.Write(real, R8(kNaN).get()));
    const ReadOutcome written = group_.Read(real);
    ASSERT_EQ(VT_R4, written.value.vt());
    EXPECT_TRUE(std::isnan(written.value.get().fltVal));
}

TEST_F(SyncIOTest, AWriteMarksTheItemChangedOnlyWhileActiveAndPendingAlways)
{
    const OPCHANDLE active = group_.AddGood(L"INT", TRUE);
    const OPCHANDLE inactive = group_.AddGood(L"INT", FALSE);
    group_.SetGroupActive(FALSE);
    group_.Item(active)->ClearChangeBits(kOwedToEverySink);
    ASSERT_EQ(S_OK, group_.Write(active, I4(1).get()));
    ASSERT_EQ(S_OK, group_.Write(inactive, I4(1).get()));
    EXPECT_EQ(kOwedToBothSinks, group_.Item(active)->ChangeMask() & kOwedToBothSinks);
    EXPECT_EQ(0, group_.Item(inactive)->ChangeMask());
    EXPECT_TRUE(group_.Item(active)->WritePending());
    EXPECT_TRUE(group_.Item(inactive)->WritePending());
}

TEST_F(SyncIOTest, InvalidHandlesFailPerItemAndLeaveTheOthersAlone)
{
    const OPCHANDLE good = group_.AddGood(L"INT");
    OPCHANDLE handles[] = {10000, good, 0xFFFFFFFF, good + 1};
    TaskOut<OPCITEMSTATE> states;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, group_.Io()->Read(OPC_DS_CACHE, 4, handles, states.out(), errors.out()));
    for (int i : {0, 2, 3}) {
        EXPECT_EQ(OPC_E_INVALIDHANDLE, errors[i]) << i;
        EXPECT_EQ(VT_EMPTY, states[i].vDataValue.vt);
        EXPECT_EQ(0u, states[i].hClient);
    }
    EXPECT_EQ(S_OK, errors[1]);
    EXPECT_EQ(42, states[1].vDataValue.lVal);

    VARIANT values[4];
    for (VARIANT& value : values) {
        value.vt = VT_I4;
        value.lVal = 99;
    }
    TaskOut<HRESULT> writeErrors;
    ASSERT_EQ(S_OK, group_.Io()->Write(4, handles, values, writeErrors.out()));
    EXPECT_EQ(OPC_E_INVALIDHANDLE, writeErrors[0]);
    EXPECT_EQ(S_OK, writeErrors[1]);
    EXPECT_EQ(OPC_E_INVALIDHANDLE, writeErrors[2]);
    EXPECT_EQ(OPC_E_INVALIDHANDLE, writeErrors[3]);
}

TEST_F(SyncIOTest, EmptyListsGiveEmptyArraysAndBadArgumentsAreRefused)
{
    OPCHANDLE handle = group_.AddGood(L"INT");
    VARIANT value = I4(1).Release();
    IOPCSyncIO* io = group_.Io();
    {
        TaskOut<OPCITEMSTATE> states;
        TaskOut<HRESULT> errors;
        EXPECT_EQ(S_OK, io->Read(OPC_DS_CACHE, 0, &handle, states.out(), errors.out()));
        EXPECT_NE(nullptr, states.get());
        EXPECT_EQ(S_OK, io->Write(0, &handle, &value, errors.out()));
        EXPECT_NE(nullptr, errors.get());
    }
    OPCITEMSTATE* states = reinterpret_cast<OPCITEMSTATE*>(1);
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(E_INVALIDARG, io->Read(OPC_DS_CACHE, 1, nullptr, &states, &errors));
    EXPECT_EQ(nullptr, states);
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(E_INVALIDARG, io->Read(OPC_DS_CACHE, 1, &handle, nullptr, &errors));
    EXPECT_EQ(E_INVALIDARG, io->Read(OPC_DS_CACHE, 1, &handle, &states, nullptr));
    EXPECT_EQ(E_INVALIDARG, io->Write(1, nullptr, &value, &errors));
    EXPECT_EQ(E_INVALIDARG, io->Write(1, &handle, nullptr, &errors));
    EXPECT_EQ(E_INVALIDARG, io->Write(1, &handle, &value, nullptr));
    // Past the cap nothing of the list is read.
    EXPECT_EQ(E_INVALIDARG,
              io->Read(OPC_DS_CACHE, kMaxListEntries + 1, &handle, &states, &errors));
    EXPECT_EQ(nullptr, states);
    EXPECT_EQ(E_INVALIDARG, io->Write(kMaxListEntries + 1, &handle, &value, &errors));
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(42, group_.Read(handle).value.get().lVal);
}

TEST_F(SyncIOTest, ArraysThatCannotBeAllocatedGiveOutOfMemoryAndChangeNothing)
{
    OPCHANDLE handle = group_.AddGood(L"INT");
    VARIANT value = I4(1).Release();
    for (int refused = 1; refused <= 2; ++refused) {
        RefusingAllocator allocator(refused);
        OPCITEMSTATE* states = reinterpret_cast<OPCITEMSTATE*>(1);
        HRESULT* errors = reinterpret_cast<HRESULT*>(1);
        EXPECT_EQ(E_OUTOFMEMORY, group_.Io()->Read(OPC_DS_CACHE, 1, &handle, &states, &errors));
        EXPECT_EQ(nullptr, states);
        EXPECT_EQ(nullptr, errors);
    }
    {
        RefusingAllocator allocator;
        HRESULT* errors = reinterpret_cast<HRESULT*>(1);
        EXPECT_EQ(E_OUTOFMEMORY, group_.Io()->Write(1, &handle, &value, &errors));
        EXPECT_EQ(nullptr, errors);
    }
    EXPECT_EQ(42, group_.Read(handle).value.get().lVal);
    EXPECT_FALSE(group_.Item(handle)->WritePending());
}

TEST_F(SyncIOTest, AsynchronousWritesCompleteAtOnceWithTheirResult)
{
    ItemObject* item = group_.Item(group_.AddGood(L"INT"));
    EXPECT_EQ(S_OK, item->WriteResult()) << "no write yet";
    // The answers a synchronous write gives, not the conversion's own codes.
    EXPECT_EQ(OPC_E_BADTYPE, item->WriteAsync(Bstr(L"abc").get()));
    EXPECT_EQ(OPC_E_BADTYPE, item->WriteResult());
    EXPECT_EQ(OPC_E_RANGE, item->WriteAsync(R8(1e10).get()));
    EXPECT_EQ(OPC_E_RANGE, item->WriteResult());
    {
        TestTagRecords records;
        records[item->TagSlot()].writeInhibit = 1;
        EXPECT_EQ(OPC_E_BADRIGHTS, item->WriteAsync(I4(5).get()));
    }
    EXPECT_FALSE(item->WritePending());
    EXPECT_EQ(S_OK, item->WriteAsync(R8(6.5).get()));
    EXPECT_EQ(S_OK, item->WriteResult());
    EXPECT_TRUE(item->WritePending());
    EXPECT_EQ(6, group_.Read(item->ServerHandle()).value.get().lVal);
}

// IOPCSyncIO2, the part IOPCSyncIO's QueryInterface answers: an active item of an active group
// serves reads that allow the age of the group's last update pass with its own value and
// timestamp; any other read takes its tag's value (here the mirror's: no tag record can be
// read) with the time the mirror took it, GOOD whatever the active flags; both converted as
// item read converts.
TEST_F(SyncIOTest, ReadMaxAgeTakesTheItemsValueWhileYoungEnoughElseTheTags)
{
    constexpr DWORD kAny = kAnyAge;
    const struct {
        const char* name;
        BOOL groupActive;
        BOOL itemActive;
        const wchar_t* itemId;
        VARTYPE requested;
        DWORD maxAge;
        bool activateAfterPass;  // deactivated and activated after the pass
        std::wstring value;      // as text
        WORD quality;
        HRESULT error;
        bool itemsOwnTime;
    } cases[] = {
        {"any age", TRUE, TRUE, L"INT", VT_EMPTY, kAny, false, L"42", OPC_QUALITY_GOOD, S_OK, true},
        {"young enough", TRUE, TRUE, L"INT", VT_EMPTY, 60000, false, L"42", OPC_QUALITY_GOOD, S_OK,
         true},
        {"0: the tag now", TRUE, TRUE, L"INT", VT_EMPTY, 0, false, L"99", OPC_QUALITY_GOOD, S_OK,
         false},
        {"inactive group keeps no value", FALSE, TRUE, L"INT", VT_EMPTY, kAny, false, L"99",
         OPC_QUALITY_GOOD, S_OK, false},
        {"inactive item keeps no value", TRUE, FALSE, L"INT", VT_EMPTY, kAny, false, L"99",
         OPC_QUALITY_GOOD, S_OK, false},
        {"made active again since the pass", TRUE, TRUE, L"INT", VT_EMPTY, kAny, true, L"99",
         OPC_QUALITY_GOOD, S_OK, false},
        {"item's value in the requested type", TRUE, TRUE, L"INT", VT_R8, kAny, false, L"42",
         OPC_QUALITY_GOOD, S_OK, true},
        {"tag's value in the requested type", TRUE, TRUE, L"INT", VT_BSTR, 0, false, L"99",
         OPC_QUALITY_GOOD, S_OK, false},
        {"item's value failing conversion", TRUE, TRUE, L"TEXT", VT_I4, kAny, false, L"abc",
         OPC_QUALITY_BAD, DISP_E_TYPEMISMATCH, true},
        {"tag's value failing conversion", TRUE, TRUE, L"TEXT", VT_I4, 0, false, L"xyz",
         OPC_QUALITY_BAD, DISP_E_TYPEMISMATCH, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestTags tags;
        ItemTestGroup group;
        OPCHANDLE handles[] = {group.AddGood(c.itemId, c.itemActive, c.requested), 9999};
        group.SetGroupActive(c.groupActive);
        group.Object().RunUpdatePass(1000, CurrentUtcTime());
        if (c.activateAfterPass) {
            group.SetItemActive(handles[0], FALSE);
            group.SetItemActive(handles[0], TRUE);
        }
        // The tag moves on after the pass: only a read of the tag sees it.
        constexpr uint64_t kMovedOn = 0x01D0000012345678;
        g_tagMirror[1]->value.integer = 99;
        std::wmemcpy(g_tagMirror[6]->value.text, L"xyz", 4);
        g_tagMirror[1]->valueTime = g_tagMirror[6]->valueTime = kMovedOn;
        ComPtr<IOPCSyncIO2> io;
        ASSERT_EQ(S_OK, group.Io()->QueryInterface(IID_PPV_ARGS(&io)));
        DWORD maxAges[] = {c.maxAge, c.maxAge};
        TaskOut<VARIANT> values;
        TaskOut<WORD> qualities;
        TaskOut<FILETIME> times;
        TaskOut<HRESULT> errors;
        EXPECT_EQ(S_FALSE, io->ReadMaxAge(2, handles, maxAges, values.out(), qualities.out(),
                                          times.out(), errors.out()))
            << "the invalid handle";
        EXPECT_EQ(OPC_E_INVALIDHANDLE, errors[1]);
        EXPECT_EQ(VT_EMPTY, values[1].vt);
        EXPECT_EQ(c.error, errors[0]);
        EXPECT_EQ(c.quality, qualities[0]);
        EXPECT_EQ(c.error == S_OK && c.requested != VT_EMPTY
                      ? c.requested
                      : group.Item(handles[0])->CanonicalType(),
                  values[0].vt);
        VariantOwner text;
        ASSERT_EQ(S_OK, VariantChangeType(text.Receive(), &values[0], 0, VT_BSTR));
        EXPECT_EQ(c.value, text.get().bstrVal);
        if (c.itemsOwnTime) {
            EXPECT_EQ(Ticks(group.Item(handles[0])->Timestamp()), Ticks(times[0]));
        } else {
            EXPECT_EQ(kMovedOn, Ticks(times[0])) << "the time the mirror took the tag's value";
        }
        VariantClear(&values[0]);
    }
}

// WriteVQT writes a value alone as Write does and refuses, writing nothing of it, an item with
// a quality or timestamp; unlike Write it answers S_FALSE when any item failed.
TEST_F(SyncIOTest, WriteVqtWritesAValueAloneAndRefusesQualityOrTimestamp)
{
    // The arguments are checked first.
    ComPtr<IOPCSyncIO2> checked;
    ASSERT_EQ(S_OK, group_.Io()->QueryInterface(IID_PPV_ARGS(&checked)));
    OPCHANDLE handle = group_.AddGood(L"INT");
    DWORD maxAge = 0;
    OPCITEMVQT vqt = {};
    VARIANT* values = reinterpret_cast<VARIANT*>(1);
    WORD* qualities = nullptr;
    FILETIME* times = nullptr;
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(E_INVALIDARG,
              checked->ReadMaxAge(0, &handle, &maxAge, &values, &qualities, &times, &errors));
    EXPECT_EQ(nullptr, values);
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(E_INVALIDARG,
              checked->ReadMaxAge(1, &handle, nullptr, &values, &qualities, &times, &errors));
    EXPECT_EQ(E_INVALIDARG, checked->ReadMaxAge(kMaxListEntries + 1, &handle, &maxAge, &values,
                                                &qualities, &times, &errors));
    errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(E_INVALIDARG, checked->WriteVQT(0, &handle, &vqt, &errors));
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(E_INVALIDARG, checked->WriteVQT(1, &handle, nullptr, &errors));
    EXPECT_EQ(E_INVALIDARG, checked->WriteVQT(kMaxListEntries + 1, &handle, &vqt, &errors));
    const struct {
        const char* name;
        BOOL qualitySpecified;
        BOOL timeSpecified;
        LONG value;
        OPCHANDLE handleOffset;  // 0: the item; else an invalid handle
        HRESULT error;
        bool written;
    } cases[] = {
        {"value alone", FALSE, FALSE, 5, 0, S_OK, true},
        {"with a quality", TRUE, FALSE, 5, 0, OPC_E_NOTSUPPORTED, false},
        {"with a timestamp", FALSE, TRUE, 5, 0, OPC_E_NOTSUPPORTED, false},
        {"with both", TRUE, TRUE, 5, 0, OPC_E_NOTSUPPORTED, false},
        {"an invalid handle", FALSE, FALSE, 5, 9999, OPC_E_INVALIDHANDLE, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestTags tags;  // a write is posted to the tag when its group goes
        ItemTestGroup group;
        OPCHANDLE handle = group.AddGood(L"INT") + c.handleOffset;
        ComPtr<IOPCSyncIO2> io;
        ASSERT_EQ(S_OK, group.Io()->QueryInterface(IID_PPV_ARGS(&io)));
        OPCITEMVQT vqt = {};
        vqt.vDataValue = I4(c.value).Release();
        vqt.bQualitySpecified = c.qualitySpecified;
        vqt.wQuality = OPC_QUALITY_GOOD;
        vqt.bTimeStampSpecified = c.timeSpecified;
        TaskOut<HRESULT> errors;
        EXPECT_EQ(c.error == S_OK ? S_OK : S_FALSE, io->WriteVQT(1, &handle, &vqt, errors.out()));
        EXPECT_EQ(c.error, errors[0]);
        const OPCHANDLE item = handle - c.handleOffset;
        EXPECT_EQ(c.written, group.Item(item)->WritePending());
        EXPECT_EQ(c.written ? 5 : 42, group.Read(item).value.get().lVal);
    }
}

}  // namespace
