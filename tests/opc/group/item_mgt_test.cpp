#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "opc/group/group_object.h"
#include "opc/items/item_object.h"
#include "opc/values/call_limits.h"
#include "opc/values/tag_lookup.h"
#include "opc_error.h"
#include "tests/opc/group/item_test_group.h"
#include "tests/opc/group/refusing_allocator.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/values/variant_maker.h"

namespace {

class ItemMgtTest : public ::testing::Test {
protected:
    TestTags tags_;
    ItemTestGroup group_;

    // How many slots of the group's item table are in use.
    int UsedSlots() const
    {
        int used = 0;
        group_.Object().Items().ForEach([&used](const ItemObject&) { ++used; });
        return used;
    }
};

std::vector<OPCITEMDEF> Definitions(const std::vector<const wchar_t*>& itemIds)
{
    std::vector<OPCITEMDEF> definitions;
    for (const wchar_t* id : itemIds) {
        OPCITEMDEF definition{};
        definition.szItemID = const_cast<LPWSTR>(id);
        definition.bActive = TRUE;
        definitions.push_back(definition);
    }
    return definitions;
}

TEST_F(ItemMgtTest, ItemIdsResolveByTheExactTagNameElseByTheTextAfterTheLastDot)
{
    const std::wstring longest = std::wstring(kMaxItemIdUnits - 6, L'p') + L".TANK1";
    const std::wstring overlong = L"p" + longest;
    const struct {
        const wchar_t* itemId;
        HRESULT error;
    } cases[] = {
        {longest.c_str(), S_OK},    {overlong.c_str(), OPC_E_INVALIDITEMID},
        {L"TANK1", S_OK},           {L"Tagname.TANK1", S_OK}, {L"A.B.TANK1", S_OK},
        {L"tank1", OPC_E_BADTYPE},  {L"A.B", S_OK},           {L"B", OPC_E_BADTYPE},
        {L"TANK1 ", OPC_E_BADTYPE}, {L"", OPC_E_BADTYPE},     {nullptr, OPC_E_INVALIDITEMID},
        {L"X.A.B", OPC_E_BADTYPE},
    };
    for (const auto& c : cases) {
        const AddOutcome added = group_.Add(c.itemId);
        EXPECT_EQ(c.error, added.error) << (c.itemId ? c.itemId : L"(null)");
        if (added.error != S_OK) {
            EXPECT_EQ(0u, added.result.hServer);
            EXPECT_EQ(VT_EMPTY, added.result.vtCanonicalDataType);
            EXPECT_EQ(0u, added.result.dwAccessRights);
        }
    }
    EXPECT_EQ(5, UsedSlots()) << "nothing of a failed item stays in the group";
}

TEST_F(ItemMgtTest, ItemsTakeTheCanonicalTypeAndValueOfTheirTagsKind)
{
    const OPCHANDLE disc = group_.AddGood(L"DISC");
    const OPCHANDLE integer = group_.AddGood(L"INT");
    const OPCHANDLE real = group_.AddGood(L"REAL");
    const OPCHANDLE text = group_.AddGood(L"Tagname.TEXT");
    const OPCHANDLE tank = group_.AddGood(L"X.TANK1");

    const struct {
        OPCHANDLE handle;
        VARTYPE type;
    } cases[] = {{disc, VT_BOOL}, {integer, VT_I4}, {real, VT_R4}, {text, VT_BSTR}, {tank, VT_I4}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.type, group_.Item(c.handle)->CanonicalType()) << c.handle;
        EXPECT_EQ(c.type, group_.Read(c.handle).value.vt()) << c.handle;
    }
    EXPECT_EQ(1, group_.Read(disc).value.get().boolVal) << "the word's 16 bits, not VARIANT_TRUE";
    EXPECT_EQ(42, group_.Read(integer).value.get().lVal);
    EXPECT_EQ(1.5f, group_.Read(real).value.get().fltVal);
    EXPECT_STREQ(L"abc", group_.Read(text).value.get().bstrVal);
    EXPECT_EQ(7, group_.Read(tank).value.get().lVal) << "the lowest slot of a name wins";
}

TEST_F(ItemMgtTest, ResultOfAGoodItemCarriesHandleTypeAndRights)
{
    const AddOutcome added = group_.Add(L"TEXT", TRUE, VT_I4, 77, L"path");
    ASSERT_EQ(S_OK, added.error);
    EXPECT_EQ(0u, added.result.hServer);
    EXPECT_EQ(VT_BSTR, added.result.vtCanonicalDataType);
    EXPECT_EQ(3u, added.result.dwAccessRights);
    EXPECT_EQ(0u, added.result.dwBlobSize);
    EXPECT_EQ(nullptr, added.result.pBlob);
    const ItemObject* item = group_.Item(0);
    EXPECT_EQ(77u, item->ClientHandle());
    EXPECT_EQ(VT_I4, item->RequestedType());
    EXPECT_STREQ(L"TEXT", item->ItemId());
    EXPECT_STREQ(L"path", item->AccessPath());
}

TEST_F(ItemMgtTest, HandlesAreTheLowestFreeSlotsAndAreReused)
{
    EXPECT_EQ(0u, group_.AddGood(L"INT"));
    EXPECT_EQ(1u, group_.AddGood(L"INT"));
    EXPECT_EQ(2u, group_.AddGood(L"INT"));
    OPCHANDLE first = 0;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, group_.Items()->RemoveItems(1, &first, errors.out()));
    EXPECT_EQ(0u, group_.AddGood(L"REAL")) << "a freed slot is taken again";
    EXPECT_EQ(VT_R4, group_.Item(0)->CanonicalType());
    EXPECT_EQ(3u, group_.AddGood(L"INT"));
}

// The table resumes its search for a free slot where the last one ended; the handles must still
// be those a plain search from slot 0 gives, whatever was removed in between.
TEST_F(ItemMgtTest, HandlesStayTheLowestFreeSlotsThroughRandomRemovesAndAdds)
{
    std::mt19937 random(12);
    std::set<OPCHANDLE> used;
    const auto lowestFree = [&used] {
        OPCHANDLE slot = 0;
        while (used.count(slot)) ++slot;
        return slot;
    };
    // Two tags, so that the tag index has lists to keep apart.
    const std::vector<OPCITEMDEF> kinds = Definitions({L"INT", L"REAL"});
    const int tags[] = {FindTagOfItemId(L"INT"), FindTagOfItemId(L"REAL")};
    std::map<OPCHANDLE, int> tagOf;
    const ItemTable& table = group_.Object().Items();
    for (int step = 0; step < 200; ++step) {
        std::vector<OPCHANDLE> removed;
        for (int n = static_cast<int>(random() % 4); n > 0; --n) {
            const OPCHANDLE handle = random() % 64;
            removed.push_back(handle);
            used.erase(handle);
            tagOf.erase(handle);
        }
        TaskOut<HRESULT> removeErrors;
        group_.Items()->RemoveItems(static_cast<DWORD>(removed.size()), removed.data(),
                                    removeErrors.out());
        std::vector<OPCITEMDEF> definitions;
        for (int n = static_cast<int>(random() % 5); n > 0; --n) {
            definitions.push_back(kinds[random() % 2]);
        }
        TaskOut<OPCITEMRESULT> results;
        TaskOut<HRESULT> errors;
        group_.Items()->AddItems(static_cast<DWORD>(definitions.size()), definitions.data(),
                                 results.out(), errors.out());
        for (size_t i = 0; i < definitions.size(); ++i) {
            const OPCHANDLE expected = lowestFree();
            ASSERT_EQ(expected, results[i].hServer) << "step " << step;
            used.insert(expected);
            tagOf[expected] = group_.Item(expected)->TagSlot();
        }
        // Every handle answers as its slot is used, also past the highest used one and the
        // limit; the passes visit the used slots in ascending order, and by tag exactly the
        // items of the tag.
        for (OPCHANDLE handle : {0u, 1u, 31u, 63u, 64u, 9999u, 10000u, 65536u, 0xFFFFFFFFu}) {
            ASSERT_EQ(used.count(handle) == 1, table.Find(handle) != nullptr)
                << "handle " << handle << " at step " << step;
        }
        std::vector<OPCHANDLE> visited;
        table.ForEach(
            [&visited](const ItemObject& item) { visited.push_back(item.ServerHandle()); });
        ASSERT_EQ(std::vector<OPCHANDLE>(used.begin(), used.end()), visited) << "step " << step;
        for (const int tag : tags) {
            std::set<OPCHANDLE> ofTag;
            table.ForEachOfTag(
                tag, [&ofTag](const ItemObject& item) { ofTag.insert(item.ServerHandle()); });
            std::set<OPCHANDLE> expected;
            for (const auto& [handle, itemTag] : tagOf) {
                if (itemTag == tag) expected.insert(handle);
            }
            ASSERT_EQ(expected, ofTag) << "step " << step;
        }
    }
    EXPECT_EQ(static_cast<int>(used.size()), UsedSlots());
}

TEST_F(ItemMgtTest, AFailingDefinitionDoesNotStopTheOthers)
{
    std::vector<OPCITEMDEF> definitions = Definitions({L"INT", L"NOSUCH", L"REAL"});
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_FALSE,
              group_.Items()->AddItems(3, definitions.data(), results.out(), errors.out()));
    EXPECT_EQ(S_OK, errors[0]);
    EXPECT_EQ(OPC_E_BADTYPE, errors[1]);
    EXPECT_EQ(S_OK, errors[2]);
    EXPECT_EQ(0u, results[0].hServer);
    EXPECT_EQ(1u, results[2].hServer);
}

TEST_F(ItemMgtTest, The10001stItemFindsNoRoomAndTheOthersAreUnaffected)
{
    std::vector<OPCITEMDEF> definitions(10001, Definitions({L"INT"})[0]);
    definitions[5].szItemID = const_cast<LPWSTR>(L"REAL");
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_FALSE,
              group_.Items()->AddItems(10001, definitions.data(), results.out(), errors.out()));
    for (DWORD i = 0; i < 10000; ++i) {
        ASSERT_EQ(S_OK, errors[i]) << i;
        ASSERT_EQ(i, results[i].hServer);
    }
    EXPECT_EQ(E_OUTOFMEMORY, errors[10000]);
    EXPECT_EQ(VT_R4, group_.Item(5)->CanonicalType());
    EXPECT_EQ(E_OUTOFMEMORY, group_.Add(L"INT").error) << "still full";
    // Freed at the top and in the middle, the slots are taken again lowest first, and the
    // limit holds as before.
    OPCHANDLE freed[] = {9999, 5000};
    TaskOut<HRESULT> removeErrors;
    ASSERT_EQ(S_OK, group_.Items()->RemoveItems(2, freed, removeErrors.out()));
    EXPECT_EQ(nullptr, group_.Item(9999));
    EXPECT_EQ(5000u, group_.Add(L"INT").result.hServer);
    EXPECT_EQ(9999u, group_.Add(L"INT").result.hServer);
    EXPECT_EQ(E_OUTOFMEMORY, group_.Add(L"INT").error);

    OPCITEMRESULT* validated = nullptr;
    HRESULT* validateErrors = nullptr;
    EXPECT_EQ(S_FALSE, group_.Items()->ValidateItems(1, definitions.data(), FALSE, &validated,
                                                     &validateErrors));
    EXPECT_EQ(E_OUTOFMEMORY, validateErrors[0]) << "a full table fails every validation";
    CoTaskMemFree(validated);
    CoTaskMemFree(validateErrors);
}

TEST_F(ItemMgtTest, ValidateItemsLeavesTheTableAloneAndNamesTheLowestFreeSlot)
{
    group_.AddGood(L"INT");
    group_.AddGood(L"INT");
    OPCHANDLE first = 0;
    TaskOut<HRESULT> removeErrors;
    group_.Items()->RemoveItems(1, &first, removeErrors.out());

    std::vector<OPCITEMDEF> definitions = Definitions({L"REAL", L"nosuch", L"A.TEXT", nullptr});
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_FALSE, group_.Items()->ValidateItems(4, definitions.data(), TRUE, results.out(),
                                                     errors.out()));
    EXPECT_EQ(S_OK, errors[0]);
    EXPECT_EQ(OPC_E_BADTYPE, errors[1]);
    EXPECT_EQ(S_OK, errors[2]);
    EXPECT_EQ(OPC_E_INVALIDITEMID, errors[3]);
    EXPECT_EQ(0u, results[0].hServer);
    EXPECT_EQ(0u, results[2].hServer);
    EXPECT_EQ(VT_R4, results[0].vtCanonicalDataType);
    EXPECT_EQ(VT_BSTR, results[2].vtCanonicalDataType);
    EXPECT_EQ(1, UsedSlots());
    EXPECT_EQ(nullptr, group_.Item(0));
}

TEST_F(ItemMgtTest, EmptyListsGiveEmptyArrays)
{
    OPCITEMDEF none{};
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_OK, group_.Items()->AddItems(0, &none, results.out(), errors.out()));
    EXPECT_NE(nullptr, results.get());
    EXPECT_NE(nullptr, errors.get());
    OPCHANDLE handle = 0;
    VARTYPE type = VT_I4;
    TaskOut<HRESULT> more;
    EXPECT_EQ(S_OK, group_.Items()->RemoveItems(0, &handle, more.out()));
    EXPECT_NE(nullptr, more.get());
    EXPECT_EQ(S_OK, group_.Items()->SetDatatypes(0, &handle, &type, more.out()));
    EXPECT_EQ(S_OK, group_.Items()->SetActiveState(0, &handle, TRUE, more.out()));
    EXPECT_EQ(S_OK, group_.Items()->SetClientHandles(0, &handle, &handle, more.out()));
}

TEST_F(ItemMgtTest, AnAccessPathLongerThanAnItemIdMayBeIsUnknown)
{
    const std::wstring longest(kMaxItemIdUnits, L'a');
    const std::wstring overlong(kMaxItemIdUnits + 1, L'a');
    std::vector<OPCITEMDEF> definitions = Definitions({L"INT", L"INT"});
    definitions[0].szAccessPath = const_cast<LPWSTR>(longest.c_str());
    definitions[1].szAccessPath = const_cast<LPWSTR>(overlong.c_str());
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_FALSE,
              group_.Items()->AddItems(2, definitions.data(), results.out(), errors.out()));
    EXPECT_EQ(S_OK, errors[0]);
    EXPECT_EQ(OPC_E_UNKNOWNPATH, errors[1]);
    EXPECT_EQ(1, UsedSlots());
}

TEST_F(ItemMgtTest, NullArraysAndOverlongListsAreRefusedAndLeaveNothingBehind)
{
    std::vector<OPCITEMDEF> definitions = Definitions({L"INT"});
    OPCHANDLE handle = group_.AddGood(L"INT");
    VARTYPE type = VT_BSTR;
    OPCITEMRESULT* results = reinterpret_cast<OPCITEMRESULT*>(1);
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    IOPCItemMgt* items = group_.Items();

    EXPECT_EQ(E_INVALIDARG, items->AddItems(1, nullptr, &results, &errors));
    EXPECT_EQ(E_INVALIDARG, items->AddItems(1, definitions.data(), nullptr, &errors));
    EXPECT_EQ(E_INVALIDARG, items->AddItems(1, definitions.data(), &results, nullptr));
    EXPECT_EQ(E_INVALIDARG, items->ValidateItems(1, nullptr, FALSE, &results, &errors));
    errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(E_INVALIDARG, items->RemoveItems(1, nullptr, &errors));
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(E_INVALIDARG, items->RemoveItems(1, &handle, nullptr));
    EXPECT_EQ(E_INVALIDARG, items->SetActiveState(1, nullptr, TRUE, &errors));
    EXPECT_EQ(E_INVALIDARG, items->SetClientHandles(1, &handle, nullptr, &errors));
    EXPECT_EQ(E_INVALIDARG, items->SetClientHandles(1, nullptr, &handle, &errors));
    EXPECT_EQ(E_INVALIDARG, items->SetDatatypes(1, &handle, nullptr, &errors));
    EXPECT_EQ(E_INVALIDARG, items->SetDatatypes(1, nullptr, &type, &errors));
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(E_INVALIDARG, items->CreateEnumerator(IID_IEnumOPCItemAttributes, nullptr));
    // Past the cap nothing of the list is read.
    constexpr DWORD kOverlong = kMaxListEntries + 1;
    EXPECT_EQ(E_INVALIDARG, items->AddItems(kOverlong, definitions.data(), &results, &errors));
    EXPECT_EQ(nullptr, results);
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(E_INVALIDARG,
              items->ValidateItems(kOverlong, definitions.data(), FALSE, &results, &errors));
    EXPECT_EQ(E_INVALIDARG, items->RemoveItems(kOverlong, &handle, &errors));
    EXPECT_EQ(E_INVALIDARG, items->SetActiveState(kOverlong, &handle, FALSE, &errors));
    EXPECT_EQ(E_INVALIDARG, items->SetClientHandles(kOverlong, &handle, &handle, &errors));
    EXPECT_EQ(E_INVALIDARG, items->SetDatatypes(kOverlong, &handle, &type, &errors));
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(1, UsedSlots());
    EXPECT_EQ(VT_EMPTY, group_.Item(handle)->RequestedType());
}

TEST_F(ItemMgtTest, ArraysThatCannotBeAllocatedGiveOutOfMemoryAndLeaveNothingBehind)
{
    std::vector<OPCITEMDEF> definitions = Definitions({L"INT"});
    OPCHANDLE handle = group_.AddGood(L"INT");
    VARTYPE type = VT_BSTR;
    IOPCItemMgt* items = group_.Items();
    // The first or the second of the two arrays refused: the other is freed again.
    for (int refused = 1; refused <= 2; ++refused) {
        RefusingAllocator allocator(refused);
        OPCITEMRESULT* results = reinterpret_cast<OPCITEMRESULT*>(1);
        HRESULT* errors = reinterpret_cast<HRESULT*>(1);
        EXPECT_EQ(E_OUTOFMEMORY, items->AddItems(1, definitions.data(), &results, &errors));
        EXPECT_EQ(nullptr, results);
        EXPECT_EQ(nullptr, errors);
        EXPECT_EQ(E_OUTOFMEMORY,
                  items->ValidateItems(1, definitions.data(), FALSE, &results, &errors));
    }
    RefusingAllocator allocator;
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(E_OUTOFMEMORY, items->RemoveItems(1, &handle, &errors));
    EXPECT_EQ(E_OUTOFMEMORY, items->SetActiveState(1, &handle, FALSE, &errors));
    EXPECT_EQ(E_OUTOFMEMORY, items->SetClientHandles(1, &handle, &handle, &errors));
    EXPECT_EQ(E_OUTOFMEMORY, items->SetDatatypes(1, &handle, &type, &errors));
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(1, UsedSlots());
    EXPECT_TRUE(group_.Item(handle)->Active());
    EXPECT_EQ(VT_EMPTY, group_.Item(handle)->RequestedType());
}

TEST_F(ItemMgtTest, HandlesOutOfRangeOrFreedAreInvalidForEveryHandleOperation)
{
    const OPCHANDLE kept = group_.AddGood(L"INT");
    const OPCHANDLE freed = group_.AddGood(L"INT");
    {
        OPCHANDLE handle = freed;
        TaskOut<HRESULT> errors;
        ASSERT_EQ(S_OK, group_.Items()->RemoveItems(1, &handle, errors.out()));
    }
    OPCHANDLE handles[] = {10000, 0xFFFFFFFF, freed, kept};
    OPCHANDLE clients[] = {1, 2, 3, 4};
    VARTYPE types[] = {VT_R8, VT_R8, VT_R8, VT_R8};
    const auto expectErrors = [](const TaskOut<HRESULT>& errors) {
        for (int i = 0; i < 3; ++i) EXPECT_EQ(OPC_E_INVALIDHANDLE, errors[i]) << i;
        EXPECT_EQ(S_OK, errors[3]);
    };
    IOPCItemMgt* items = group_.Items();
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_FALSE, items->SetClientHandles(4, handles, clients, errors.out()));
    expectErrors(errors);
    EXPECT_EQ(S_FALSE, items->SetDatatypes(4, handles, types, errors.out()));
    expectErrors(errors);
    EXPECT_EQ(S_FALSE, items->SetActiveState(4, handles, FALSE, errors.out()));
    expectErrors(errors);
    EXPECT_EQ(4u, group_.Item(kept)->ClientHandle());
    EXPECT_EQ(VT_R8, group_.Item(kept)->RequestedType());
    EXPECT_FALSE(group_.Item(kept)->Active());

    EXPECT_EQ(S_FALSE, items->RemoveItems(4, handles, errors.out()));
    expectErrors(errors);
    EXPECT_EQ(0, UsedSlots());
}

TEST_F(ItemMgtTest, AHandleListedTwiceIsRemovedOnceAndInvalidTheSecondTime)
{
    OPCHANDLE handles[] = {group_.AddGood(L"INT"), 0};
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_FALSE, group_.Items()->RemoveItems(2, handles, errors.out()));
    EXPECT_EQ(S_OK, errors[0]);
    EXPECT_EQ(OPC_E_INVALIDHANDLE, errors[1]);
}

// However its item goes before the group's next update pass, a write answered S_OK goes to
// its tag's mirror entry.
TEST_F(ItemMgtTest, AWriteIsPostedWhenItsItemGoesBeforeTheNextUpdatePass)
{
    enum class Removal { Items, ReleaseThenRemoveGroup, RemoveGroupThenRelease, ServerObject };
    const struct {
        Removal removal;
        const char* how;
    } cases[] = {
        {Removal::Items, "RemoveItems"},
        {Removal::ReleaseThenRemoveGroup, "the client lets go of the group, then RemoveGroup"},
        {Removal::RemoveGroupThenRelease, "RemoveGroup while the client still holds the group"},
        {Removal::ServerObject, "the client lets go of its server object with the group"},
    };
    MirrorEntry& entry = *g_tagMirror[1];  // INT
    LONG value = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ComPtr<IOPCServer> server = NewServer();
        std::optional<ItemTestGroup> group(std::in_place, server.Get(), L"W");
        OPCHANDLE handle = group->AddGood(L"INT");
        const OPCHANDLE groupHandle = group->Object().state.serverHandle;
        entry.writePending = 0;
        ASSERT_EQ(S_OK, group->Write(handle, I4(++value).get()));
        TaskOut<HRESULT> errors;
        switch (c.removal) {
        case Removal::Items:
            EXPECT_EQ(S_OK, group->Items()->RemoveItems(1, &handle, errors.out()));
            break;
        case Removal::ReleaseThenRemoveGroup:
            group.reset();
            EXPECT_EQ(S_OK, server->RemoveGroup(groupHandle, FALSE));
            break;
        case Removal::RemoveGroupThenRelease:
            // No update pass reaches the group any more, though it lives on.
            EXPECT_EQ(OPC_S_INUSE, server->RemoveGroup(groupHandle, FALSE));
            break;
        case Removal::ServerObject:
            group.reset();
            server.Reset();
            break;
        }
        EXPECT_EQ(1, entry.writePending);
        EXPECT_EQ(value, entry.value.integer);
    }
}

TEST_F(ItemMgtTest, ActivationMarksTheItemChangedAndDeactivationClearsTheMask)
{
    const OPCHANDLE inactive = group_.AddGood(L"INT", FALSE);
    const OPCHANDLE active = group_.AddGood(L"INT", TRUE);
    EXPECT_EQ(0, group_.Item(inactive)->ChangeMask());
    EXPECT_EQ(kOwedToEverySink, group_.Item(active)->ChangeMask());
    group_.SetItemActive(inactive, TRUE);
    EXPECT_EQ(kOwedToEverySink, group_.Item(inactive)->ChangeMask());
    group_.SetItemActive(active, FALSE);
    EXPECT_EQ(0, group_.Item(active)->ChangeMask());
    group_.Item(inactive)->ClearChangeBits(kOwedToDataSink);
    EXPECT_EQ(kOwedToDataTimeSink | kOwedToDataCallback, group_.Item(inactive)->ChangeMask());
}

TEST_F(ItemMgtTest, RequestedTypesAreTakenAsGivenAndShowAtReadTime)
{
    const OPCHANDLE handle = group_.AddGood(L"INT");
    group_.SetRequestedType(handle, VT_BSTR);
    EXPECT_STREQ(L"42", group_.Read(handle).value.get().bstrVal);
    group_.SetRequestedType(handle, VT_ARRAY | VT_I4);
    const ReadOutcome refused = group_.Read(handle);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, refused.error);
    EXPECT_EQ(OPC_QUALITY_BAD, refused.quality);
    EXPECT_EQ(VT_I4, refused.value.vt());
    group_.SetRequestedType(handle, VT_EMPTY);
    EXPECT_EQ(VT_I4, group_.Read(handle).value.vt()) << "VT_EMPTY restores the canonical type";
}

TEST_F(ItemMgtTest, BadInputToOneGroupLeavesAnotherClientsItemsAlone)
{
    ItemTestGroup other;
    const OPCHANDLE theirs = other.AddGood(L"TEXT");
    group_.AddGood(L"INT");
    OPCHANDLE handles[] = {theirs, 0, 10000};
    OPCHANDLE clients[] = {9, 9, 9};
    TaskOut<HRESULT> errors;
    group_.Items()->SetClientHandles(3, handles, clients, errors.out());
    group_.Items()->SetActiveState(3, handles, FALSE, errors.out());
    group_.Items()->RemoveItems(3, handles, errors.out());
    ASSERT_NE(nullptr, other.Item(theirs));
    EXPECT_EQ(0u, other.Item(theirs)->ClientHandle());
    EXPECT_TRUE(other.Item(theirs)->Active());
    EXPECT_STREQ(L"abc", other.Read(theirs).value.get().bstrVal);
}

TEST_F(ItemMgtTest, ACloneCarriesCopiesOfTheItemsUnderTheSameHandles)
{
    group_.AddGood(L"INT");
    const OPCHANDLE text = group_.AddGood(L"TEXT");
    OPCHANDLE first = 0;
    TaskOut<HRESULT> errors;
    group_.Items()->RemoveItems(1, &first, errors.out());

    ComPtr<IOPCGroupStateMgt> state;
    ASSERT_EQ(S_OK, group_.Items()->QueryInterface(IID_PPV_ARGS(&state)));
    ComPtr<IOPCSyncIO> clone;
    ASSERT_EQ(S_OK, state->CloneGroup(L"copy", IID_IOPCSyncIO,
                                      reinterpret_cast<IUnknown**>(clone.GetAddressOf())));
    ComPtr<IOPCItemMgt> cloneItems;
    ASSERT_EQ(S_OK, clone.As(&cloneItems));
    std::vector<OPCITEMDEF> definitions = Definitions({L"REAL", L"REAL"});
    TaskOut<OPCITEMRESULT> added;
    TaskOut<HRESULT> addErrors;
    ASSERT_EQ(S_OK, cloneItems->AddItems(2, definitions.data(), added.out(), addErrors.out()));
    EXPECT_EQ(0u, added[0].hServer) << "the clone's free slots are the source's";
    EXPECT_EQ(2u, added[1].hServer);
    OPCHANDLE handles[] = {3, text};
    TaskOut<OPCITEMSTATE> states;
    TaskOut<HRESULT> readErrors;
    ASSERT_EQ(S_OK, clone->Read(OPC_DS_DEVICE, 2, handles, states.out(), readErrors.out()));
    EXPECT_EQ(OPC_E_INVALIDHANDLE, readErrors[0]);
    EXPECT_EQ(S_OK, readErrors[1]);
    EXPECT_STREQ(L"abc", states[1].vDataValue.bstrVal);
    VariantClear(&states[1].vDataValue);
}

// IOPCItemDeadbandMgt: no tag record carries an analog range, so a valid item never takes a
// deadband; each item's error says why, and the call answers S_FALSE.
TEST_F(ItemMgtTest, ItemDeadbandsAreNotSupportedAndEachItemSaysWhy)
{
    const OPCHANDLE real = group_.AddGood(L"REAL");
    ComPtr<IOPCItemDeadbandMgt> deadbands;
    ASSERT_EQ(S_OK, group_.Items()->QueryInterface(IID_PPV_ARGS(&deadbands)));
    const struct {
        OPCHANDLE handle;
        FLOAT deadband;
        HRESULT setError;
        HRESULT otherError;  // Get's and Clear's
    } cases[] = {
        {real, 10.0f, OPC_E_DEADBANDNOTSUPPORTED, OPC_E_DEADBANDNOTSUPPORTED},
        {real, 0.0f, OPC_E_DEADBANDNOTSUPPORTED, OPC_E_DEADBANDNOTSUPPORTED},
        {real, 100.0f, OPC_E_DEADBANDNOTSUPPORTED, OPC_E_DEADBANDNOTSUPPORTED},
        {real, -0.5f, E_INVALIDARG, OPC_E_DEADBANDNOTSUPPORTED},
        {real, 100.5f, E_INVALIDARG, OPC_E_DEADBANDNOTSUPPORTED},
        {9999, 10.0f, OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE},
        {9999, -1.0f, OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.handle) + " " + std::to_string(c.deadband));
        OPCHANDLE handle = c.handle;
        FLOAT deadband = c.deadband;
        TaskOut<HRESULT> setErrors, getErrors, clearErrors;
        TaskOut<FLOAT> got;
        EXPECT_EQ(S_FALSE, deadbands->SetItemDeadband(1, &handle, &deadband, setErrors.out()));
        EXPECT_EQ(c.setError, setErrors[0]);
        EXPECT_EQ(S_FALSE, deadbands->GetItemDeadband(1, &handle, got.out(), getErrors.out()));
        EXPECT_EQ(c.otherError, getErrors[0]);
        EXPECT_EQ(0.0f, got[0]);
        EXPECT_EQ(S_FALSE, deadbands->ClearItemDeadband(1, &handle, clearErrors.out()));
        EXPECT_EQ(c.otherError, clearErrors[0]);
    }
    OPCHANDLE handle = real;
    FLOAT deadband = 1.0f;
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    FLOAT* got = reinterpret_cast<FLOAT*>(1);
    EXPECT_EQ(E_INVALIDARG, deadbands->SetItemDeadband(0, &handle, &deadband, &errors));
    EXPECT_EQ(nullptr, errors);
    EXPECT_EQ(E_INVALIDARG, deadbands->SetItemDeadband(1, &handle, nullptr, &errors));
    EXPECT_EQ(E_INVALIDARG, deadbands->GetItemDeadband(1, nullptr, &got, &errors));
    EXPECT_EQ(nullptr, got);
    EXPECT_EQ(E_INVALIDARG, deadbands->ClearItemDeadband(1, &handle, nullptr));
}

}  // namespace
