// opcclient's reading of the streams it receives: what the server builds reads back field by
// field, and a block that does not hold its stream is refused instead of read past its end,
// also inside the client's advise sink.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "opc/datachange/stream_formats.h"
#include "tests/opc/datachange/stream_bytes.h"
#include "tests/opc/values/variant_maker.h"
#include "tools/opc_client/advise_sink.h"
#include "tools/opc_client/stream_reader.h"

namespace {

DataStreamItem Item(OPCHANDLE client, VariantOwner value)
{
    DataStreamItem item;
    item.hClient = client;
    item.quality = OPC_QUALITY_GOOD;
    item.timestamp = FILETIME{0x01234567, 0x01D9ABCD};
    item.value = std::move(value);
    return item;
}

// A data-with-time stream of an integer and a two-character text, as the server sends it.
std::vector<BYTE> DataTimeBytes()
{
    std::vector<DataStreamItem> items;
    items.push_back(Item(7, I4(-5)));
    items.push_back(Item(9, Bstr(L"\x6C34\x4F4D")));
    const StreamBlock block = BuildDataStream(DataStreamFormat::DataTime, 0x55, 3, items);
    return BytesOf(block, DataStreamSize(DataStreamFormat::DataTime, items));
}

template <class T>
void Put(std::vector<BYTE>& bytes, size_t offset, T value)
{
    std::memcpy(&bytes[offset], &value, sizeof value);
}

TEST(StreamReader, ReadsBackWhatTheServerBuilds)
{
    const std::vector<BYTE> bytes = DataTimeBytes();
    StreamContent content;
    ASSERT_TRUE(ReadStream(StreamKind::DataTime, bytes.data(), bytes.size(), content));
    EXPECT_EQ(bytes.size(), content.size);
    EXPECT_EQ(0x55u, content.group);
    EXPECT_EQ(3u, content.transactionId);
    ASSERT_EQ(2u, content.items.size());
    EXPECT_EQ(7u, content.items[0].client);
    EXPECT_EQ(OPC_QUALITY_GOOD, content.items[1].quality);
    EXPECT_EQ(0x01D9ABCDu, content.items[1].timestamp.dwHighDateTime);
    EXPECT_EQ(std::wstring(L"\x6C34\x4F4D"), content.items[1].text);
    VARIANT value;
    ASSERT_EQ(S_OK, ValueOf(content.items[0], &value));
    EXPECT_EQ(VT_I4, value.vt);
    EXPECT_EQ(-5, value.lVal);

    const StreamBlock written =
        BuildWriteCompleteStream(0x55, 4, {{7, S_OK}, {9, DISP_E_TYPEMISMATCH}});
    const std::vector<BYTE> write = BytesOf(written, WriteCompleteStreamSize(2));
    ASSERT_TRUE(ReadStream(StreamKind::WriteComplete, write.data(), write.size(), content));
    EXPECT_EQ(4u, content.transactionId);
    ASSERT_EQ(2u, content.items.size());
    EXPECT_EQ(DISP_E_TYPEMISMATCH, content.items[1].error);
}

TEST(StreamReader, RefusesBlocksThatDoNotHoldTheirStream)
{
    // The text's value block starts at 76 (20 + 2 x 20 + 16): L at 92, the text at 96, its
    // terminator at 100.
    const struct {
        const char* fault;
        std::function<void(std::vector<BYTE>&)> spoil;
    } cases[] = {
        {"dwSize beyond the block",
         [](std::vector<BYTE>& b) { Put<DWORD>(b, 0, DWORD(b.size() + 1)); }},
        {"dwSize below the group header", [](std::vector<BYTE>& b) { Put<DWORD>(b, 0, 19); }},
        {"dwSize below the group header, with more items than the block holds",
         [](std::vector<BYTE>& b) {
             Put<DWORD>(b, 0, 8);
             Put<DWORD>(b, 4, 0xFFFFFFFF);
         }},
        {"block shorter than the group header", [](std::vector<BYTE>& b) { b.resize(19); }},
        {"more items than headers fit", [](std::vector<BYTE>& b) { Put<DWORD>(b, 4, 0x10000000); }},
        {"value offset outside",
         [](std::vector<BYTE>& b) { Put<DWORD>(b, 24, DWORD(b.size() - 8)); }},
        {"text longer than the block", [](std::vector<BYTE>& b) { Put<DWORD>(b, 76 + 16, 4000); }},
        {"odd text length", [](std::vector<BYTE>& b) { Put<DWORD>(b, 76 + 16, 3); }},
        {"text without terminator", [](std::vector<BYTE>& b) { Put<WORD>(b, 76 + 24, 0x41); }},
        {"cut short", [](std::vector<BYTE>& b) { b.resize(b.size() - 1); }},
    };
    for (const auto& c : cases) {
        std::vector<BYTE> bytes = DataTimeBytes();
        c.spoil(bytes);
        StreamContent content;
        EXPECT_FALSE(ReadStream(StreamKind::DataTime, bytes.data(), bytes.size(), content))
            << c.fault;
    }
    const BYTE header[12] = {5};
    StreamContent content;
    EXPECT_FALSE(ReadStream(StreamKind::WriteComplete, header, sizeof header, content));
    EXPECT_FALSE(ReadStream(StreamKind::Data, nullptr, 0, content));
}

TEST(StreamReader, TheClientsSinkRefusesAnUndersizedStreamWithinItsCallback)
{
    // dwSize 8 and a count of 0xFFFFFFFF: room for that many items cannot be made.
    std::vector<BYTE> bytes = DataTimeBytes();
    Put<DWORD>(bytes, 0, 8);
    Put<DWORD>(bytes, 4, 0xFFFFFFFF);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    ASSERT_NE(nullptr, block);
    std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
    GlobalUnlock(block);
    FORMATETC format{StreamFormat(StreamKind::DataTime), nullptr, DVASPECT_CONTENT, -1,
                     TYMED_HGLOBAL};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = block;
    const Microsoft::WRL::ComPtr<PrintingSink> sink = PrintingSink::Create();
    EXPECT_NO_THROW(sink->OnDataChange(&format, &medium));
    EXPECT_EQ(1u, sink->Callbacks());
    EXPECT_TRUE(sink->Transactions().empty()) << "nothing read from the refused stream";
    GlobalFree(block);
}

}  // namespace
