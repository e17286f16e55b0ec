#include "opc/datachange/stream_formats.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "stream_bytes.h"
#include "tests/opc/values/variant_maker.h"

namespace {

const FILETIME kTime{0x11223344, 0x01D2A3B4};

DataStreamItem Item(OPCHANDLE hClient, VariantOwner value, WORD quality = OPC_QUALITY_GOOD)
{
    DataStreamItem item;
    item.hClient = hClient;
    item.quality = quality;
    item.timestamp = kTime;
    item.value = std::move(value);
    return item;
}

std::vector<DataStreamItem> Items(VariantOwner a)
{
    std::vector<DataStreamItem> items;
    items.push_back(Item(7, std::move(a)));
    return items;
}

// Builds the stream and gives its bytes, checking that dwSize is the block's true length.
std::vector<BYTE> Built(DataStreamFormat format, const std::vector<DataStreamItem>& items,
                        DWORD transactionId = 0)
{
    const StreamBlock block = BuildDataStream(format, 0xABCD, transactionId, items);
    EXPECT_TRUE(block);
    if (!block) return {};
    const uint64_t size = DataStreamSize(format, items);
    EXPECT_EQ(size, GlobalSize(block.get()));
    std::vector<BYTE> bytes = BytesOf(block, static_cast<size_t>(size));
    EXPECT_EQ(size, At<DWORD>(bytes, 0)) << "dwSize";
    return bytes;
}

TEST(DataStream, OneIntegerWithTime)
{
    const std::vector<BYTE> b = Built(DataStreamFormat::DataTime, Items(I4(-5)), 99);
    ASSERT_EQ(56u, b.size());
    EXPECT_EQ(56u, At<DWORD>(b, 0));
    EXPECT_EQ(1u, At<DWORD>(b, 4));
    EXPECT_EQ(0xABCDu, At<DWORD>(b, 8));
    EXPECT_EQ(99u, At<DWORD>(b, 12));
    EXPECT_EQ(S_OK, At<HRESULT>(b, 16));
    EXPECT_EQ(7u, At<DWORD>(b, 20)) << "hClient";
    EXPECT_EQ(40u, At<DWORD>(b, 24)) << "dwValueOffset";
    EXPECT_EQ(OPC_QUALITY_GOOD, At<WORD>(b, 28));
    EXPECT_EQ(0u, At<WORD>(b, 30)) << "wReserved";
    EXPECT_EQ(kTime.dwLowDateTime, At<DWORD>(b, 32));
    EXPECT_EQ(kTime.dwHighDateTime, At<DWORD>(b, 36));
    EXPECT_EQ(VT_I4, At<WORD>(b, 40));
    EXPECT_EQ(-5, At<LONG>(b, 48));
}

TEST(DataStream, TextCarriesLengthCharactersAndTerminator)
{
    const std::vector<BYTE> b = Built(DataStreamFormat::Data, Items(Bstr(L"abc")));
    ASSERT_EQ(60u, b.size());
    EXPECT_EQ(32u, At<DWORD>(b, 24)) << "dwValueOffset";
    EXPECT_EQ(VT_BSTR, At<WORD>(b, 32));
    EXPECT_EQ(6u, At<DWORD>(b, 48)) << "L";
    EXPECT_EQ(0, std::memcmp(&b[52], L"abc", 6));
    EXPECT_EQ(0u, At<WORD>(b, 58)) << "terminator";
}

TEST(DataStream, EmptyTextIsA22ByteBlock)
{
    const std::vector<DataStreamItem> items = Items(Bstr(L""));
    EXPECT_EQ(22u, MeasureValues(items));
    const std::vector<BYTE> b = Built(DataStreamFormat::Data, items);
    ASSERT_EQ(54u, b.size());
    EXPECT_EQ(0u, At<DWORD>(b, 48)) << "L";
    EXPECT_EQ(0u, At<WORD>(b, 52)) << "terminator";
}

TEST(DataStream, BlockBehindTextMayStartOnTwoByteBoundary)
{
    std::vector<DataStreamItem> items;
    items.push_back(Item(1, Bstr(L"xy")));
    items.push_back(Item(2, R8(0.25)));
    const std::vector<BYTE> b = Built(DataStreamFormat::Data, items);
    ASSERT_EQ(20u + 24u + 26u + 16u, b.size());
    EXPECT_EQ(44u, At<DWORD>(b, 24));
    EXPECT_EQ(70u, At<DWORD>(b, 36)) << "second dwValueOffset";
    EXPECT_EQ(VT_R8, At<WORD>(b, 70));
    EXPECT_EQ(0.25, At<double>(b, 78)) << "the 8-byte value, all of it";
}

// Measure, size and build agree for every mix of values, and each header names the block
// that really holds its item's value.
TEST(DataStream, HeadersPointAtTheirValuesForEveryMix)
{
    const std::wstring longText(3000, L'\x6C34');
    for (const DataStreamFormat format : {DataStreamFormat::Data, DataStreamFormat::DataTime}) {
        std::vector<DataStreamItem> items;
        items.push_back(Item(10, Bool(1)));
        items.push_back(Item(11, Bstr(longText)));
        items.push_back(Item(12, Bstr(L"q")));
        items.push_back(Item(13, R4(1.5f), OPC_QUALITY_BAD));
        items.push_back(Item(14, VariantOwner()));
        const std::vector<BYTE> b = Built(format, items);
        const size_t header = format == DataStreamFormat::DataTime ? 20 : 12;
        const uint64_t expectedV = 16 + (6000 + 22) + (2 + 22) + 16 + 16;
        EXPECT_EQ(expectedV, MeasureValues(items));
        ASSERT_EQ(20 + header * items.size() + expectedV, b.size());
        size_t expectedOffset = 20 + header * items.size();
        for (size_t i = 0; i < items.size(); ++i) {
            const size_t at = 20 + header * i;
            EXPECT_EQ(items[i].hClient, At<DWORD>(b, at));
            EXPECT_EQ(expectedOffset, At<DWORD>(b, at + 4)) << i;
            EXPECT_EQ(items[i].quality, At<WORD>(b, at + 8));
            EXPECT_EQ(items[i].value.vt(), At<WORD>(b, expectedOffset)) << i;
            expectedOffset += static_cast<size_t>(ValueBlockSize(items[i].value.get()));
        }
        EXPECT_EQ(b.size(), expectedOffset);
        EXPECT_EQ(0, std::memcmp(&b[20 + header * 5 + 16 + 20], longText.data(), 6000));
    }
}

TEST(ReadItemForStream, QualityFollowsItemReadAndTheCompletion)
{
    const struct {
        const char* label;
        VariantOwner value;
        VARTYPE requested;
        bool active;
        bool outOfService;
        WORD quality;
        VARTYPE delivered;
    } cases[] = {
        {"converted", I4(3), VT_R8, true, false, 0xC0, VT_R8},
        {"inactive item", I4(3), VT_EMPTY, false, false, 0x1C, VT_I4},
        {"failed conversion keeps the canonical value", Bstr(L"abc"), VT_R4, true, false, 0x00,
         VT_BSTR},
        {"completion from cache in an inactive group", I4(3), VT_EMPTY, true, true, 0x1C, VT_I4},
        {"completion overrides a failed conversion", Bstr(L"abc"), VT_R4, true, true, 0x1C,
         VT_BSTR},
    };
    for (const auto& c : cases) {
        const ItemReadSource item{&c.value.get(), c.requested, OPC_QUALITY_GOOD, c.active};
        const DataStreamItem record = ReadItemForStream(item, 5, kTime, c.outOfService);
        EXPECT_EQ(5u, record.hClient) << c.label;
        EXPECT_EQ(c.quality, record.quality) << c.label;
        EXPECT_EQ(c.delivered, record.value.vt()) << c.label;
        EXPECT_EQ(kTime.dwLowDateTime, record.timestamp.dwLowDateTime) << c.label;
    }
}

TEST(CompletionOutOfService, OnlyForCompletionsFromCacheInInactiveGroups)
{
    const struct {
        WORD changeBit;
        bool groupActive;
        DWORD source;
        bool expected;
    } cases[] = {
        {0, false, OPC_DS_CACHE, true},   {0, true, OPC_DS_CACHE, false},
        {0, false, OPC_DS_DEVICE, false}, {2, false, OPC_DS_CACHE, false},
        {4, false, OPC_DS_CACHE, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, CompletionOutOfService(c.changeBit, c.groupActive, c.source))
            << c.changeBit << c.groupActive << c.source;
    }
}

TEST(WriteCompleteStream, ThreeItemsIn40BytesStartingWithTheCount)
{
    const std::vector<OPCITEMHEADERWRITE> items = {
        {101, S_OK}, {102, DISP_E_TYPEMISMATCH}, {103, DISP_E_OVERFLOW}};
    const StreamBlock block = BuildWriteCompleteStream(0x55, 0x77, items);
    ASSERT_TRUE(block);
    ASSERT_EQ(40u, WriteCompleteStreamSize(items.size()));
    EXPECT_EQ(40u, GlobalSize(block.get()));
    const std::vector<BYTE> b = BytesOf(block, 40);
    const DWORD expected[] = {3,    0x55,
                              0x77, S_OK,
                              101,  S_OK,
                              102,  static_cast<DWORD>(DISP_E_TYPEMISMATCH),
                              103,  static_cast<DWORD>(DISP_E_OVERFLOW)};
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(expected[i], At<DWORD>(b, 4 * i)) << i;
}

}  // namespace
