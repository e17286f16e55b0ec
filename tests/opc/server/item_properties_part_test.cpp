// IOPCItemProperties of a server object over a mirror of test tags: the properties offered,
// their values, the per-property errors, and the refusals of bad item IDs and arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opc/group/group_object.h"
#include "opc/values/call_limits.h"
#include "opc/values/item_value.h"
#include "opc/values/item_properties.h"
#include "opc_error.h"
#include "runtime_link/project_files.h"
#include "runtime_link/shared_tag_area.h"
#include "tests/opc/group/item_test_group.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

class ItemProperties : public ::testing::Test {
protected:
    ItemProperties() : server_(NewServer()) { EXPECT_EQ(S_OK, server_.As(&properties_)); }

    // The values and errors GetItemProperties gives for `ids` of `item`; `result` is expected.
    struct Answer {
        std::vector<VARIANT> values;
        std::vector<HRESULT> errors;
        ~Answer()
        {
            for (VARIANT& value : values) VariantClear(&value);
        }
    };
    void Get(const wchar_t* item, std::vector<DWORD> ids, HRESULT result, Answer& answer)
    {
        TaskOut<VARIANT> values;
        TaskOut<HRESULT> errors;
        std::wstring id(item);
        ASSERT_EQ(result, properties_->GetItemProperties(id.data(), static_cast<DWORD>(ids.size()),
                                                         ids.data(), values.out(), errors.out()));
        ASSERT_NE(nullptr, values.get());
        answer.values.assign(values.get(), values.get() + ids.size());
        answer.errors.assign(errors.get(), errors.get() + ids.size());
    }

    TestTags tags_;
    ComPtr<IOPCServer> server_;
    ComPtr<IOPCItemProperties> properties_;
};

TEST_F(ItemProperties, EveryTagOffersTheStandardPropertiesOneToSix)
{
    const struct {
        const wchar_t* item;
        VARTYPE valueType;
    } cases[] = {{L"DISC", VT_BOOL},
                 {L"Device.INT", VT_I4},
                 {L"REAL", VT_R4},
                 {L"TEXT", VT_BSTR},
                 {L"A.B", VT_I4}};
    for (const auto& c : cases) {
        std::wstring item(c.item);
        DWORD count = 0;
        TaskOut<DWORD> ids;
        LPWSTR* descriptions = nullptr;
        TaskOut<VARTYPE> types;
        ASSERT_EQ(S_OK, properties_->QueryAvailableProperties(item.data(), &count, ids.out(),
                                                              &descriptions, types.out()));
        ASSERT_EQ(6u, count);
        const std::vector<VARTYPE> expectedTypes = {VT_I2,   c.valueType, VT_I2,
                                                    VT_DATE, VT_I4,       VT_R4};
        for (DWORD i = 0; i < count; ++i) {
            EXPECT_EQ(i + 1, ids[i]);
            EXPECT_EQ(expectedTypes[i], types[i]) << i;
            EXPECT_STREQ(kItemProperties[i].description, descriptions[i]);
            CoTaskMemFree(descriptions[i]);
        }
        CoTaskMemFree(descriptions);
    }
}

TEST_F(ItemProperties, ValuesOfATagWithPerPropertyErrors)
{
    const int32_t savedPeriod = PollPeriod();
    PollPeriod() = 250;
    Answer answer;
    Get(L"PLC1.REAL", {1, 2, 3, 4, 5, 6, 101, 0, 7}, S_FALSE, answer);
    PollPeriod() = savedPeriod;

    EXPECT_EQ(VT_I2, answer.values[0].vt);
    EXPECT_EQ(VT_R4, answer.values[0].iVal);
    EXPECT_EQ(VT_R4, answer.values[1].vt);
    EXPECT_FLOAT_EQ(1.5f, answer.values[1].fltVal);
    EXPECT_EQ(VT_I2, answer.values[2].vt);
    EXPECT_EQ(OPC_QUALITY_GOOD, answer.values[2].iVal) << "an unwatched Viewer link counts as up";
    EXPECT_EQ(VT_DATE, answer.values[3].vt);
    EXPECT_GT(answer.values[3].date, 45000.0) << "a date of these years";
    EXPECT_EQ(VT_I4, answer.values[4].vt);
    EXPECT_EQ(static_cast<LONG>(OPC_READABLE | OPC_WRITEABLE), answer.values[4].lVal);
    EXPECT_EQ(VT_R4, answer.values[5].vt);
    EXPECT_FLOAT_EQ(250.0f, answer.values[5].fltVal);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(S_OK, answer.errors[i]) << i;
    // No description in a tag record, no id 0, no EU type: each fails alone, empty.
    for (size_t i = 6; i < 9; ++i) {
        EXPECT_EQ(OPC_E_INVALID_PID, answer.errors[i]) << i;
        EXPECT_EQ(VT_EMPTY, answer.values[i].vt) << i;
    }

    Answer text;
    Get(L"TEXT", {2}, S_OK, text);
    ASSERT_EQ(VT_BSTR, text.values[0].vt);
    EXPECT_STREQ(L"abc", text.values[0].bstrVal);
}

TEST_F(ItemProperties, ATagWhoseNameHoldsADotIsNamedByItExactly)
{
    Answer answer;
    ASSERT_NO_FATAL_FAILURE(Get(L"A.B", {2}, S_OK, answer));
    ASSERT_EQ(VT_I4, answer.values[0].vt);
    EXPECT_EQ(9, answer.values[0].lVal);
}

TEST_F(ItemProperties, TimestampIsTheTimeTheMirrorTookTheValueAsAReadGivesIt)
{
    // The client's own item of REAL, stamped by a pass of another time, plays no part.
    const SYSTEMTIME longAgo = {2020, 1, 0, 2, 3, 4, 5, 0};
    FILETIME taken;
    DATE longAgoDate;
    ASSERT_TRUE(SystemTimeToFileTime(&longAgo, &taken));
    ASSERT_TRUE(SystemTimeToVariantTime(const_cast<SYSTEMTIME*>(&longAgo), &longAgoDate));
    ItemTestGroup group(server_.Get());
    group.AddGood(L"REAL");
    g_tagMirror[2]->value.real = 2.5f;
    group.Object().RunUpdatePass(1000, CurrentUtcTime());
    g_tagMirror[2]->valueTime = Ticks(taken);

    Answer property;
    ASSERT_NO_FATAL_FAILURE(Get(L"Device.REAL", {4}, S_OK, property));
    ASSERT_EQ(VT_DATE, property.values[0].vt);
    EXPECT_NEAR(longAgoDate, property.values[0].date, 1e-8);

    ComPtr<IOPCItemIO> io;
    ASSERT_EQ(S_OK, server_.As(&io));
    const wchar_t* item = L"REAL";
    DWORD maxAge = kAnyAge;
    TaskOut<VARIANT> values;
    TaskOut<WORD> qualities;
    TaskOut<FILETIME> times;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, io->Read(1, &item, &maxAge, values.out(), qualities.out(), times.out(),
                             errors.out()));
    EXPECT_EQ(Ticks(taken), Ticks(times[0])) << "what IOPCItemIO::Read gives";
}

TEST_F(ItemProperties, AWriteInhibitedTagIsOnlyReadable)
{
    TestTagRecords records;
    records[2].writeInhibit = 1;  // REAL
    Answer inhibited, free;
    Get(L"REAL", {5}, S_OK, inhibited);
    Get(L"INT", {5}, S_OK, free);
    EXPECT_EQ(static_cast<LONG>(OPC_READABLE), inhibited.values[0].lVal);
    EXPECT_EQ(static_cast<LONG>(OPC_READABLE | OPC_WRITEABLE), free.values[0].lVal);
}

TEST_F(ItemProperties, NoPropertyHasAnItemIdOfItsOwn)
{
    std::wstring item(L"INT");
    DWORD ids[] = {1, 6, 101, 5000};
    LPWSTR* itemIds = nullptr;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_FALSE, properties_->LookupItemIDs(item.data(), 4, ids, &itemIds, errors.out()));
    ASSERT_NE(nullptr, itemIds);
    for (DWORD i = 0; i < 4; ++i) {
        EXPECT_EQ(nullptr, itemIds[i]);
        EXPECT_EQ(OPC_E_INVALID_PID, errors[i]);
    }
    CoTaskMemFree(itemIds);
}

TEST_F(ItemProperties, BadItemIdsAndArgumentsAreRefusedWithNothingHandedOut)
{
    DWORD ids[] = {1};
    // It would name INT were it not longer than an item ID may be.
    const std::wstring overlong = std::wstring(kMaxItemIdUnits - 3, L'x') + L".INT";
    const struct {
        const wchar_t* item;
        DWORD count;
        HRESULT result;
    } cases[] = {
        {L"NOSUCHTAG", 1, OPC_E_UNKNOWNITEMID},
        {L"", 1, OPC_E_INVALIDITEMID},
        {L"Device.", 1, OPC_E_INVALIDITEMID},
        {L"X.A.B", 1, OPC_E_UNKNOWNITEMID},
        {L"A_NAME_LONGER_THAN_ANY_TAG_NAME_CAN_BE", 1, OPC_E_INVALIDITEMID},
        {nullptr, 1, E_INVALIDARG},
        {L"INT", 0, E_INVALIDARG},
        {L"INT", kMaxPropertyIds + 1, E_INVALIDARG},
        {overlong.c_str(), 1, OPC_E_INVALIDITEMID},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item ? std::string(c.item, c.item + wcslen(c.item)) : "(null)");
        std::wstring text(c.item ? c.item : L"");
        LPWSTR item = c.item ? text.data() : nullptr;
        VARIANT* values = reinterpret_cast<VARIANT*>(1);
        HRESULT* errors = reinterpret_cast<HRESULT*>(1);
        EXPECT_EQ(c.result, properties_->GetItemProperties(item, c.count, ids, &values, &errors));
        EXPECT_EQ(nullptr, values);
        EXPECT_EQ(nullptr, errors);
        LPWSTR* itemIds = reinterpret_cast<LPWSTR*>(1);
        errors = reinterpret_cast<HRESULT*>(1);
        EXPECT_EQ(c.result, properties_->LookupItemIDs(item, c.count, ids, &itemIds, &errors));
        EXPECT_EQ(nullptr, itemIds);
        // QueryAvailableProperties takes no list.
        if (c.count == 0 || c.count > kMaxPropertyIds) continue;
        DWORD count = 7;
        DWORD* propertyIds = nullptr;
        LPWSTR* descriptions = nullptr;
        VARTYPE* types = nullptr;
        EXPECT_EQ(c.result, properties_->QueryAvailableProperties(item, &count, &propertyIds,
                                                                  &descriptions, &types));
        EXPECT_EQ(0u, count);
        EXPECT_EQ(nullptr, descriptions);
    }
    std::wstring item(L"INT");
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(E_INVALIDARG,
              properties_->GetItemProperties(item.data(), 1, nullptr, &values, &errors));
    EXPECT_EQ(E_INVALIDARG, properties_->GetItemProperties(item.data(), 1, ids, nullptr, &errors));
    DWORD count = 0;
    EXPECT_EQ(E_INVALIDARG, properties_->QueryAvailableProperties(item.data(), &count, nullptr,
                                                                  nullptr, nullptr));
}

}  // namespace
