// IOPCItemIO of a server object over a mirror of test tags: reads by item ID with a max age,
// and VQT writes into the tags' mirror entries, ordered with the items' writes.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "opc/group/group_object.h"
#include "opc/values/call_limits.h"
#include "opc/values/item_value.h"
#include "opc_error.h"
#include "runtime_link/project_files.h"
#include "runtime_link/shared_tag_area.h"
#include "tests/opc/datachange/viewer_gone.h"
#include "tests/opc/group/item_test_group.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/server/com_server_test_support.h"
#include "tests/opc/values/variant_maker.h"

namespace {

// The slots of the test tags ItemIO reads and writes.
constexpr int kIntSlot = 1;
constexpr int kRealSlot = 2;

class ItemIo : public ::testing::Test {
protected:
    ItemIo() { EXPECT_EQ(S_OK, server_.As(&io_)); }

    struct Answer {
        HRESULT result = E_FAIL;
        TaskOut<VARIANT> values;
        TaskOut<WORD> qualities;
        TaskOut<FILETIME> times;
        TaskOut<HRESULT> errors;
        size_t count = 0;
        ~Answer()
        {
            for (size_t i = 0; values.get() && i < count; ++i) VariantClear(&values[i]);
        }
    };
    void Read(std::vector<const wchar_t*> items, std::vector<DWORD> maxAges, Answer& answer)
    {
        answer.count = items.size();
        answer.result = io_->Read(static_cast<DWORD>(items.size()), items.data(), maxAges.data(),
                                  answer.values.out(), answer.qualities.out(), answer.times.out(),
                                  answer.errors.out());
    }
    // Writes one value alone (VT_I4 `number`), or with a quality or timestamp.
    HRESULT WriteOne(const wchar_t* item, LONG number, bool quality = false, bool time = false)
    {
        OPCITEMVQT vqt{};
        vqt.vDataValue.vt = VT_I4;
        vqt.vDataValue.lVal = number;
        vqt.bQualitySpecified = quality;
        vqt.wQuality = OPC_QUALITY_GOOD;
        vqt.bTimeStampSpecified = time;
        TaskOut<HRESULT> errors;
        const HRESULT hr = io_->WriteVQT(1, &item, &vqt, errors.out());
        if (!errors.get()) return hr;
        EXPECT_EQ(errors[0] == S_OK ? S_OK : S_FALSE, hr);
        return errors[0];
    }

    TestTags tags_;
    ComPtr<IOPCServer> server_ = NewServer();
    ComPtr<IOPCItemIO> io_;
};

TEST_F(ItemIo, ReadsEachItemIdInTheTagsCanonicalTypeWithPerItemErrors)
{
    const struct {
        const wchar_t* item;
        HRESULT error;
        VARTYPE type;
        WORD quality;
    } cases[] = {
        {L"INT", S_OK, VT_I4, OPC_QUALITY_GOOD},
        {L"A.B", S_OK, VT_I4, OPC_QUALITY_GOOD},
        {L"Tagname.TEXT", S_OK, VT_BSTR, OPC_QUALITY_GOOD},
        {L"DISC", S_OK, VT_BOOL, OPC_QUALITY_GOOD},
        {L"NOSUCH", OPC_E_UNKNOWNITEMID, VT_EMPTY, OPC_QUALITY_BAD},
        {L"Device.", OPC_E_INVALIDITEMID, VT_EMPTY, OPC_QUALITY_BAD},
        {nullptr, OPC_E_INVALIDITEMID, VT_EMPTY, OPC_QUALITY_BAD},
    };
    std::vector<const wchar_t*> items;
    for (const auto& c : cases) items.push_back(c.item);
    Answer answer;
    Read(items, std::vector<DWORD>(items.size(), kAnyAge), answer);
    EXPECT_EQ(S_FALSE, answer.result);
    ASSERT_NE(nullptr, answer.values.get());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(cases[i].error, answer.errors[i]) << i;
        EXPECT_EQ(cases[i].type, answer.values[i].vt) << i;
        EXPECT_EQ(cases[i].quality, answer.qualities[i]) << i;
        EXPECT_EQ(SUCCEEDED(cases[i].error), Ticks(answer.times[i]) != 0) << i;
    }
    EXPECT_EQ(42, answer.values[0].lVal);
    EXPECT_EQ(9, answer.values[1].lVal);
    EXPECT_STREQ(L"abc", answer.values[2].bstrVal);

    Answer good;
    Read({L"REAL"}, {0}, good);
    EXPECT_EQ(S_OK, good.result) << "every item read";

    const ViewerGone gone;
    Answer bad;
    Read({L"INT"}, {0}, bad);
    EXPECT_EQ(S_OK, bad.result);
    EXPECT_EQ(OPC_QUALITY_COMM_FAILURE, bad.qualities[0]);
    EXPECT_EQ(42, bad.values[0].lVal) << "the last value the mirror took";
}

TEST_F(ItemIo, EachItemsMaxAgeChoosesTheMirrorOrTheTagRecordNow)
{
    std::vector<TagRecord> records(8);
    records[kIntSlot].typeCode = 1;  // integer
    records[kIntSlot].integerValue = 77;
    TagRecord* const savedArea = g_sharedTagArea;
    const int savedCapacity = g_sharedTagRecordCapacity;
    const int32_t savedCount = g_tagCount;
    g_sharedTagArea = records.data();
    g_sharedTagRecordCapacity = static_cast<int>(records.size());
    g_tagCount = static_cast<int32_t>(records.size());
    Answer answer;
    Read({L"INT", L"INT", L"INT"}, {0, 60000, kAnyAge}, answer);
    g_sharedTagArea = savedArea;
    g_sharedTagRecordCapacity = savedCapacity;
    g_tagCount = savedCount;

    ASSERT_EQ(S_OK, answer.result);
    // No poll cycle took the records' values: only kAnyAge takes the mirror's.
    EXPECT_EQ(77, answer.values[0].lVal);
    EXPECT_EQ(77, answer.values[1].lVal);
    EXPECT_EQ(42, answer.values[2].lVal);
}

TEST_F(ItemIo, AReadCarriesTheTimeOfItsValue)
{
    // The client's own item of REAL, stamped by a pass of long ago, plays no part.
    const SYSTEMTIME longAgo = {2020, 1, 0, 2, 3, 4, 5, 0};
    FILETIME cycleTime;
    ASSERT_TRUE(SystemTimeToFileTime(&longAgo, &cycleTime));
    ItemTestGroup group(server_.Get());
    group.AddGood(L"REAL");
    g_tagMirror[kRealSlot]->value.real = 2.5f;
    group.Object().RunUpdatePass(1000, cycleTime);
    constexpr uint64_t kTaken = 0x01D0000012345678;  // when the mirror took the values
    g_tagMirror[kRealSlot]->valueTime = g_tagMirror[kIntSlot]->valueTime = kTaken;

    const int32_t savedCount = g_tagCount;
    g_tagCount = static_cast<int32_t>(KindTags().size());
    Answer answer;
    ULONGLONG before = 0, after = 0;
    {
        TestTagRecords records;
        records[kIntSlot].typeCode = 1;  // integer
        records[kIntSlot].integerValue = 77;
        before = UtcTicksNow();
        Read({L"Device.REAL", L"INT", L"INT"}, {kAnyAge, kAnyAge, 0}, answer);
        after = UtcTicksNow();
    }
    Answer gone;
    {
        const ViewerGone viewerGone;  // only without an area
        Read({L"INT"}, {0}, gone);
    }
    g_tagCount = savedCount;

    ASSERT_EQ(S_OK, answer.result);
    EXPECT_EQ(kTaken, Ticks(answer.times[0])) << "the mirror's value, not the item's time";
    EXPECT_EQ(kTaken, Ticks(answer.times[1]));
    EXPECT_EQ(77, answer.values[2].lVal);
    EXPECT_GE(Ticks(answer.times[2]), before) << "the tag record's value: the time of the read";
    EXPECT_LE(Ticks(answer.times[2]), after);
    ASSERT_EQ(S_OK, gone.result);
    EXPECT_EQ(42, gone.values[0].lVal);
    EXPECT_EQ(kTaken, Ticks(gone.times[0])) << "the last value the mirror took, with its time";
}

TEST_F(ItemIo, AVqtWriteTakesAValueAloneIntoTheTagsMirrorEntry)
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const wchar_t* item;
        bool quality;
        bool time;
        bool inhibited;  // the tag's record refuses client writes
        VariantOwner value;
        HRESULT error;
        int slot;  // whose entry takes the value, or -1
    } cases[] = {
        {L"INT", false, false, false, Bstr(L"12"), S_OK, kIntSlot},
        {L"Tagname.REAL", false, false, false, Bstr(L"2.5"), S_OK, kRealSlot},
        {L"A.B", true, false, false, Bstr(L"13"), OPC_E_NOTSUPPORTED, -1},
        {L"A.B", false, true, false, Bstr(L"13"), OPC_E_NOTSUPPORTED, -1},
        {L"A.B", false, false, false, Bstr(L"abc"), OPC_E_BADTYPE, -1},
        {L"A.B", false, false, false, MakeVariant(VT_DISPATCH, [](VARIANT& v) { v.pdispVal = nullptr; }),
         OPC_E_BADTYPE, -1},
        {L"A.B", false, false, false, R8(1e10), OPC_E_RANGE, -1},
        {L"A.B", false, false, false, R8(kNaN), OPC_E_RANGE, -1},
        {L"DISC", false, false, false, R8(-std::numeric_limits<double>::infinity()), OPC_E_RANGE,
         -1},
        {L"REAL", false, false, false, R8(1e39), OPC_E_RANGE, -1},
        {L"A.B", false, false, true, I4(13), OPC_E_BADRIGHTS, -1},
        {L"A.B", true, false, true, I4(13), OPC_E_NOTSUPPORTED, -1},
        {L"NOSUCH", false, false, false, Bstr(L"1"), OPC_E_UNKNOWNITEMID, -1},
        {L"", false, false, false, Bstr(L"1"), OPC_E_INVALIDITEMID, -1},
    };
    auto records = std::make_unique<TestTagRecords>();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        OPCITEMVQT vqt{};
        vqt.vDataValue = c.value.get();  // the owner keeps it
        vqt.bQualitySpecified = c.quality;
        vqt.bTimeStampSpecified = c.time;
        for (int slot = 0; slot < 8; ++slot) (*records)[slot].writeInhibit = c.inhibited ? 1 : 0;
        std::vector<MirrorEntry> before;
        for (int slot = 0; slot < 8; ++slot) before.push_back(*g_tagMirror[slot]);
        TaskOut<HRESULT> errors;
        const wchar_t* item = c.item;
        const ULONGLONG written = UtcTicksNow();
        EXPECT_EQ(c.error == S_OK ? S_OK : S_FALSE, io_->WriteVQT(1, &item, &vqt, errors.out()));
        ASSERT_NE(nullptr, errors.get());
        EXPECT_EQ(c.error, errors[0]);
        for (int slot = 0; slot < 8; ++slot) {
            const MirrorEntry& entry = *g_tagMirror[slot];
            EXPECT_EQ(slot == c.slot ? 1 : before[slot].writePending, entry.writePending) << slot;
            if (slot == c.slot) {
                EXPECT_GE(entry.valueTime, written) << "stamped when posted";
            } else {
                EXPECT_EQ(0, std::memcmp(&before[slot].value, &entry.value, sizeof entry.value));
            }
        }
    }
    EXPECT_EQ(12, g_tagMirror[kIntSlot]->value.integer);
    EXPECT_EQ(2.5f, g_tagMirror[kRealSlot]->value.real);

    records.reset();  // the Viewer counts as gone only without an area
    const ViewerGone gone;
    EXPECT_EQ(OPC_SERVER_E_VIEWER_NOT_RUNNING, WriteOne(L"INT", 14));
    EXPECT_EQ(12, g_tagMirror[kIntSlot]->value.integer);
}

TEST_F(ItemIo, OfAVqtWriteAndAnItemsWriteTheLaterMadeWins)
{
    ItemTestGroup group(server_.Get());
    const OPCHANDLE handle = group.AddGood(L"INT");
    VARIANT value{};
    value.vt = VT_I4;

    // The item's write waits for the update pass; the VQT write, made later, is already there.
    value.lVal = 5;
    ASSERT_EQ(S_OK, group.Write(handle, value));
    ASSERT_EQ(S_OK, WriteOne(L"INT", 6));
    group.Object().RunUpdatePass(1000, CurrentUtcTime());
    EXPECT_EQ(6, g_tagMirror[kIntSlot]->value.integer);

    ASSERT_EQ(S_OK, WriteOne(L"INT", 7));
    value.lVal = 8;
    ASSERT_EQ(S_OK, group.Write(handle, value));
    group.Object().RunUpdatePass(1000, CurrentUtcTime());
    EXPECT_EQ(8, g_tagMirror[kIntSlot]->value.integer);
}

TEST_F(ItemIo, BadArgumentsAreRefusedWithNothingHandedOut)
{
    const wchar_t* item = L"INT";
    DWORD age = 0;
    VARIANT* values = reinterpret_cast<VARIANT*>(1);
    WORD* qualities = reinterpret_cast<WORD*>(1);
    FILETIME* times = reinterpret_cast<FILETIME*>(1);
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    const struct {
        DWORD count;
        const wchar_t** items;
        DWORD* ages;
        bool outs;
    } reads[] = {{0, &item, &age, true},
                 {1, nullptr, &age, true},
                 {1, &item, nullptr, true},
                 {1, &item, &age, false},
                 {kMaxListEntries + 1, &item, &age, true}};
    for (const auto& r : reads) {
        EXPECT_EQ(E_INVALIDARG, io_->Read(r.count, r.items, r.ages, &values, &qualities,
                                          r.outs ? &times : nullptr, &errors));
        EXPECT_EQ(nullptr, values);
        EXPECT_EQ(nullptr, errors);
    }
    OPCITEMVQT vqt{};
    EXPECT_EQ(E_INVALIDARG, io_->WriteVQT(0, &item, &vqt, &errors));
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(E_INVALIDARG, io_->WriteVQT(1, nullptr, &vqt, &errors));
    EXPECT_EQ(E_INVALIDARG, io_->WriteVQT(1, &item, nullptr, &errors));
    EXPECT_EQ(E_INVALIDARG, io_->WriteVQT(1, &item, &vqt, nullptr));
    EXPECT_EQ(E_INVALIDARG, io_->WriteVQT(kMaxListEntries + 1, &item, &vqt, &errors));
    EXPECT_EQ(nullptr, errors);
}

}  // namespace
