#include <gtest/gtest.h>

#include <vector>

#include "opc/group/group_object.h"
#include "tests/opc/group/item_test_group.h"
#include "tests/opc/group/refusing_allocator.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"

namespace {

// Next(celt) with the records it delivered, their strings freed again.
struct Fetched {
    HRESULT hr;
    ULONG count;
    std::vector<OPCITEMATTRIBUTES> records;
    std::vector<std::wstring> itemIds;
    std::vector<std::wstring> accessPaths;  // "(null)" for none
};

Fetched Next(IEnumOPCItemAttributes* enumerator, ULONG celt)
{
    Fetched fetched{};
    TaskOut<OPCITEMATTRIBUTES> block;
    fetched.hr = enumerator->Next(celt, block.out(), &fetched.count);
    for (ULONG i = 0; i < fetched.count; ++i) {
        OPCITEMATTRIBUTES& record = block[i];
        fetched.records.push_back(record);
        fetched.itemIds.push_back(record.szItemID ? record.szItemID : L"(null)");
        fetched.accessPaths.push_back(record.szAccessPath ? record.szAccessPath : L"(null)");
        CoTaskMemFree(record.szItemID);
        CoTaskMemFree(record.szAccessPath);
    }
    return fetched;
}

class ItemAttributeEnumeratorTest : public ::testing::Test {
protected:
    ComPtr<IEnumOPCItemAttributes> Enumerate()
    {
        ComPtr<IEnumOPCItemAttributes> enumerator;
        EXPECT_EQ(S_OK, group_.Items()->CreateEnumerator(
                            IID_IEnumOPCItemAttributes,
                            reinterpret_cast<IUnknown**>(enumerator.GetAddressOf())));
        return enumerator;
    }
    // Items in slots 0, 2 and 5.
    void AddThreeWithGaps()
    {
        for (int i = 0; i < 6; ++i) group_.AddGood(L"INT");
        OPCHANDLE gone[] = {1, 3, 4};
        TaskOut<HRESULT> errors;
        ASSERT_EQ(S_OK, group_.Items()->RemoveItems(3, gone, errors.out()));
    }

    TestTags tags_;
    ItemTestGroup group_;
};

TEST_F(ItemAttributeEnumeratorTest, RecordsFollowServerHandlesAndCarryTheItemsAttributes)
{
    group_.Add(L"Tagname.TEXT", FALSE, VT_I4, 11, L"path");
    group_.AddGood(L"INT");
    group_.Add(L"REAL", TRUE, VT_EMPTY, 33);
    OPCHANDLE middle = 1;
    TaskOut<HRESULT> errors;
    group_.Items()->RemoveItems(1, &middle, errors.out());

    const Fetched fetched = Next(Enumerate().Get(), 10);
    EXPECT_EQ(S_FALSE, fetched.hr);
    ASSERT_EQ(2u, fetched.count);
    const OPCITEMATTRIBUTES& text = fetched.records[0];
    EXPECT_EQ(L"Tagname.TEXT", fetched.itemIds[0]) << "as the client added it";
    EXPECT_EQ(L"path", fetched.accessPaths[0]);
    EXPECT_FALSE(text.bActive);
    EXPECT_EQ(11u, text.hClient);
    EXPECT_EQ(0u, text.hServer);
    EXPECT_EQ(3u, text.dwAccessRights);
    EXPECT_EQ(0u, text.dwBlobSize);
    EXPECT_EQ(nullptr, text.pBlob);
    EXPECT_EQ(VT_I4, text.vtRequestedDataType);
    EXPECT_EQ(VT_BSTR, text.vtCanonicalDataType);
    EXPECT_EQ(OPC_NOENUM, text.dwEUType);
    EXPECT_EQ(VT_EMPTY, text.vEUInfo.vt);
    EXPECT_EQ(2u, fetched.records[1].hServer);
    EXPECT_EQ(L"(null)", fetched.accessPaths[1]);
    EXPECT_TRUE(fetched.records[1].bActive);
    EXPECT_EQ(VT_R4, fetched.records[1].vtCanonicalDataType);
}

TEST_F(ItemAttributeEnumeratorTest, NextDeliversInChunksAndThenNothing)
{
    AddThreeWithGaps();
    ComPtr<IEnumOPCItemAttributes> enumerator = Enumerate();
    const Fetched first = Next(enumerator.Get(), 2);
    EXPECT_EQ(S_OK, first.hr);
    ASSERT_EQ(2u, first.count);
    EXPECT_EQ(0u, first.records[0].hServer);
    EXPECT_EQ(2u, first.records[1].hServer);
    const Fetched second = Next(enumerator.Get(), 2);
    EXPECT_EQ(S_FALSE, second.hr);
    ASSERT_EQ(1u, second.count);
    EXPECT_EQ(5u, second.records[0].hServer);
    const Fetched third = Next(enumerator.Get(), 2);
    EXPECT_EQ(S_FALSE, third.hr);
    EXPECT_EQ(0u, third.count);
}

TEST_F(ItemAttributeEnumeratorTest, TheDeliveredBlockIsShrunkToTheRecordsInIt)
{
    AddThreeWithGaps();
    ComPtr<IEnumOPCItemAttributes> enumerator = Enumerate();
    TaskOut<OPCITEMATTRIBUTES> block;
    ULONG fetched = 0;
    ASSERT_EQ(S_FALSE, enumerator->Next(100, block.out(), &fetched));
    ASSERT_EQ(3u, fetched);
    ComPtr<IMalloc> allocator;
    ASSERT_EQ(S_OK, CoGetMalloc(MEMCTX_TASK, &allocator));
    EXPECT_EQ(3 * sizeof(OPCITEMATTRIBUTES), allocator->GetSize(block.get()));
    for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(block[i].szItemID);
}

TEST_F(ItemAttributeEnumeratorTest, ARefusedBlockDeliversNothingAndKeepsTheCursor)
{
    AddThreeWithGaps();
    {
        RefusingAllocator allocator;
        ComPtr<IEnumOPCItemAttributes> enumerator = Enumerate();
        const Fetched refused = Next(enumerator.Get(), 1);
        EXPECT_EQ(S_FALSE, refused.hr);
        EXPECT_EQ(0u, refused.count);
        ComPtr<IEnumOPCItemAttributes> clone;
        ASSERT_EQ(S_OK, enumerator->Clone(&clone));
        EXPECT_EQ(S_OK, clone->Skip(3)) << "nothing was taken";
    }
}

TEST_F(ItemAttributeEnumeratorTest, NextWithoutAFetchedCountDeliversOneRecordOnly)
{
    AddThreeWithGaps();
    ComPtr<IEnumOPCItemAttributes> enumerator = Enumerate();
    OPCITEMATTRIBUTES* block = reinterpret_cast<OPCITEMATTRIBUTES*>(1);
    EXPECT_EQ(E_POINTER, enumerator->Next(2, &block, nullptr));
    EXPECT_EQ(nullptr, block);
    ASSERT_EQ(S_OK, enumerator->Next(1, &block, nullptr));
    EXPECT_EQ(0u, block[0].hServer);
    CoTaskMemFree(block[0].szItemID);
    CoTaskMemFree(block);
}

TEST_F(ItemAttributeEnumeratorTest, SkipMovesOnlyWhenEnoughRecordsRemain)
{
    AddThreeWithGaps();
    ComPtr<IEnumOPCItemAttributes> enumerator = Enumerate();
    EXPECT_EQ(S_FALSE, enumerator->Skip(4));
    EXPECT_EQ(0u, Next(enumerator.Get(), 1).records.at(0).hServer) << "the cursor stayed at 0";
    EXPECT_EQ(S_OK, enumerator->Reset());
    EXPECT_EQ(S_OK, enumerator->Skip(3));
    EXPECT_EQ(S_FALSE, Next(enumerator.Get(), 1).hr);
    EXPECT_EQ(S_OK, enumerator->Reset());
    EXPECT_EQ(S_OK, enumerator->Skip(2));
    EXPECT_EQ(5u, Next(enumerator.Get(), 1).records.at(0).hServer);
}

TEST_F(ItemAttributeEnumeratorTest, ACloneStartsAtTheSourcesCursorAndMovesOnItsOwn)
{
    AddThreeWithGaps();
    ComPtr<IEnumOPCItemAttributes> enumerator = Enumerate();
    Next(enumerator.Get(), 1);
    ComPtr<IEnumOPCItemAttributes> clone;
    ASSERT_EQ(S_OK, enumerator->Clone(&clone));
    EXPECT_EQ(2u, Next(clone.Get(), 1).records.at(0).hServer);
    EXPECT_EQ(5u, Next(clone.Get(), 1).records.at(0).hServer);
    EXPECT_EQ(2u, Next(enumerator.Get(), 1).records.at(0).hServer);
    enumerator.Reset();
    EXPECT_EQ(S_OK, clone->Reset());
    EXPECT_EQ(3u, Next(clone.Get(), 5).count);
}

TEST_F(ItemAttributeEnumeratorTest, LaterChangesToTheItemsAreNotSeen)
{
    AddThreeWithGaps();
    ComPtr<IEnumOPCItemAttributes> enumerator = Enumerate();
    OPCHANDLE first = 0;
    TaskOut<HRESULT> errors;
    group_.Items()->RemoveItems(1, &first, errors.out());
    group_.SetItemActive(2, FALSE);
    const Fetched fetched = Next(enumerator.Get(), 3);
    ASSERT_EQ(3u, fetched.count);
    EXPECT_EQ(0u, fetched.records[0].hServer);
    EXPECT_TRUE(fetched.records[1].bActive);
}

TEST_F(ItemAttributeEnumeratorTest, AnEmptyGroupGivesAnEmptyEnumerator)
{
    const Fetched fetched = Next(Enumerate().Get(), 1);
    EXPECT_EQ(S_FALSE, fetched.hr);
    EXPECT_EQ(0u, fetched.count);
}

TEST_F(ItemAttributeEnumeratorTest, OnlyTheAttributeEnumeratorIsOffered)
{
    IUnknown* unknown = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_INVALIDARG, group_.Items()->CreateEnumerator(IID_IEnumString, &unknown));
    EXPECT_EQ(nullptr, unknown);
    ComPtr<IEnumOPCItemAttributes> enumerator = Enumerate();
    ComPtr<IUnknown> identity;
    EXPECT_EQ(S_OK, enumerator.As(&identity));
    ComPtr<IEnumString> strings;
    EXPECT_EQ(E_NOINTERFACE, enumerator.As(&strings));
}

TEST_F(ItemAttributeEnumeratorTest, TheEnumeratorKeepsItsGroupAlive)
{
    group_.AddGood(L"INT");
    ComPtr<IEnumOPCItemAttributes> enumerator = Enumerate();
    ComPtr<IOPCItemMgt> items(group_.Items());
    const LONG withEnumerator = RefCount(items.Get());
    ComPtr<IEnumOPCItemAttributes> clone;
    ASSERT_EQ(S_OK, enumerator->Clone(&clone));
    EXPECT_EQ(withEnumerator + 1, RefCount(items.Get()));
    clone.Reset();
    enumerator.Reset();
    EXPECT_EQ(withEnumerator - 1, RefCount(items.Get()));
}

}  // namespace
