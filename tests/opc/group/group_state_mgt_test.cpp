#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "opc/group/group_object.h"
#include "opc/items/item_object.h"
#include "opc_error.h"
#include "runtime_link/project_files.h"
#include "tests/opc/group/item_test_group.h"
#include "tests/opc/group/refusing_allocator.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/server/com_server_test_support.h"
#include "tests/opc/values/variant_maker.h"

namespace {

DWORD RevisedRate(IOPCGroupStateMgt* group, DWORD* requested, HRESULT result = S_OK)
{
    DWORD revised = 0xDEAD;
    EXPECT_EQ(result,
              group->SetState(requested, &revised, nullptr, nullptr, nullptr, nullptr, nullptr))
        << (requested ? *requested : 0);
    return revised;
}

TEST(SetState, RoundsTheRateToTheNearestQuarterSecond)
{
    // At the shortest poll period a rate that rounds below it is revised to it, and only that
    // is a rate the server cannot keep: rounding alone answers S_OK.
    ScopedPollPeriod period(55);
    const struct {
        DWORD requested;
        DWORD revised;
        HRESULT result;
    } cases[] = {
        {0, 55, OPC_S_UNSUPPORTEDRATE},
        {55, 55, S_OK},  // rounded to 0, floored back to what was asked
        {124, 55, OPC_S_UNSUPPORTEDRATE},
        {125, 250, S_OK},
        {374, 250, S_OK},
        {375, 500, S_OK},
        {1000, 1000, S_OK},
        {1100, 1000, S_OK},
        {1125, 1250, S_OK},
        {4294967170u, 4294967250u, S_OK},
        {4294967171u, 55, OPC_S_UNSUPPORTEDRATE},
        {std::numeric_limits<DWORD>::max(), 55, OPC_S_UNSUPPORTEDRATE},
    };
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt> group = AddGroup(server.Get(), L"G");
    for (const auto& c : cases) {
        DWORD requested = c.requested;
        EXPECT_EQ(c.revised, RevisedRate(group.Get(), &requested, c.result)) << c.requested;
    }
}

TEST(UpdateRates, BelowThePollPeriodAreRevisedToItAndReportedUnsupported)
{
    ScopedPollPeriod period(1000);
    ComPtr<IOPCServer> server = NewServer();
    const struct {
        DWORD added;
        DWORD addRevised;
        HRESULT addResult;
        DWORD set;
        DWORD setRevised;
        HRESULT setResult;
    } cases[] = {
        {1, 1000, OPC_S_UNSUPPORTEDRATE, 250, 1000, OPC_S_UNSUPPORTEDRATE},
        {999, 1000, OPC_S_UNSUPPORTEDRATE, 1100, 1000, S_OK},
        {1000, 1000, S_OK, 900, 1000, S_OK},  // 900 rounds to the period itself
        {1234, 1234, S_OK, 1125, 1250, S_OK},
    };
    for (const auto& c : cases) {
        OPCHANDLE handle = 0;
        DWORD revised = 0;
        ComPtr<IOPCGroupStateMgt> group;
        ASSERT_EQ(c.addResult,
                  server->AddGroup(nullptr, TRUE, c.added, 0, nullptr, nullptr, 0, &handle,
                                   &revised, IID_IOPCGroupStateMgt,
                                   reinterpret_cast<IUnknown**>(group.GetAddressOf())));
        EXPECT_EQ(c.addRevised, revised) << c.added;
        EXPECT_EQ(c.addRevised, StateOf(group.Get()).rate) << c.added;
        DWORD requested = c.set;
        EXPECT_EQ(c.setRevised, RevisedRate(group.Get(), &requested, c.setResult)) << c.set;
        EXPECT_EQ(c.setRevised, StateOf(group.Get()).rate) << c.set;
        ASSERT_EQ(S_OK, server->RemoveGroup(handle, TRUE));
    }
}

TEST(SetState, ChangesOnlyWhatIsGivenAndReportsTheStoredRate)
{
    ComPtr<IOPCServer> server = NewServer();
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IOPCGroupStateMgt> group;
    ASSERT_EQ(S_OK, server->AddGroup(L"G", TRUE, 1100, 7, nullptr, nullptr, 0, &handle, &revised,
                                     IID_IOPCGroupStateMgt,
                                     reinterpret_cast<IUnknown**>(group.GetAddressOf())));
    EXPECT_EQ(1100u, RevisedRate(group.Get(), nullptr)) << "AddGroup does not round";

    BOOL active = FALSE;
    LONG bias = -720;
    FLOAT deadband = -12.5f;
    DWORD lcid = 0x409;
    OPCHANDLE client = 0xABCDEF;
    ASSERT_EQ(S_OK, group->SetState(nullptr, &revised, &active, &bias, &deadband, &lcid, &client));
    EXPECT_EQ(1100u, revised);
    const GroupStateView state = StateOf(group.Get());
    EXPECT_EQ(1100u, state.rate);
    EXPECT_FALSE(state.active);
    EXPECT_EQ(-720, state.timeBias);
    EXPECT_EQ(-12.5f, state.deadband);
    EXPECT_EQ(0x409u, state.lcid);
    EXPECT_EQ(0xABCDEFu, state.client);
    EXPECT_EQ(0u, state.server);
    EXPECT_EQ(L"G", state.name);
}

TEST(GroupStateMgt, NullRequiredPointersAreRefusedAndChangeNothing)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt> group = AddGroup(server.Get(), L"G");
    DWORD rate = 250;
    EXPECT_EQ(E_INVALIDARG,
              group->SetState(&rate, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(1000u, RevisedRate(group.Get(), nullptr));
    BOOL active;
    LONG bias;
    FLOAT deadband;
    DWORD lcid;
    OPCHANDLE client, handle;
    LPWSTR name = nullptr;
    EXPECT_EQ(E_INVALIDARG,
              group->GetState(&rate, &active, nullptr, &bias, &deadband, &lcid, &client, &handle));
    EXPECT_EQ(E_INVALIDARG,
              group->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, nullptr));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(E_INVALIDARG, group->SetName(nullptr));
    EXPECT_EQ(L"G", StateOf(group.Get()).name);
    IUnknown* clone = nullptr;
    EXPECT_EQ(E_INVALIDARG, group->CloneGroup(nullptr, IID_IUnknown, &clone));
    EXPECT_EQ(E_INVALIDARG, group->CloneGroup(L"C", IID_IUnknown, nullptr));
}

TEST(GetState, RefusedWithNothingHandedOutWhenTheNameCannotBeCopied)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt> group = AddGroup(server.Get(), L"G");
    DWORD rate = 0;
    BOOL active;
    LONG bias;
    FLOAT deadband;
    DWORD lcid;
    OPCHANDLE client, handle;
    LPWSTR name = reinterpret_cast<LPWSTR>(1);
    RefusingAllocator allocator;
    EXPECT_EQ(E_OUTOFMEMORY,
              group->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &handle));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(0u, rate);
}

TEST(SetName, RenamesWithoutComparingToOtherGroups)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt> first = AddGroup(server.Get(), L"First");
    ComPtr<IOPCGroupStateMgt> second = AddGroup(server.Get(), L"Second");
    EXPECT_EQ(S_OK, second->SetName(L"First"));
    EXPECT_EQ(L"First", StateOf(second.Get()).name);
    ComPtr<IOPCGroupStateMgt> found;
    ASSERT_EQ(S_OK, server->GetGroupByName(L"First", IID_IOPCGroupStateMgt,
                                           reinterpret_cast<IUnknown**>(found.GetAddressOf())));
    EXPECT_EQ(first.Get(), found.Get()) << "the lower slot is found first";
}

TEST(GroupObject, QueryInterfaceRules)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt> group = AddGroup(server.Get(), L"G");
    ComPtr<IUnknown> primary, again;
    ASSERT_EQ(S_OK, group.As(&primary));
    EXPECT_NE(static_cast<IUnknown*>(group.Get()), primary.Get()) << "the part is not the object";
    ComPtr<IOPCGroupStateMgt> sameState;
    ASSERT_EQ(S_OK, primary.As(&sameState));
    EXPECT_EQ(group.Get(), sameState.Get());
    ASSERT_EQ(S_OK, sameState.As(&again));
    EXPECT_EQ(primary.Get(), again.Get());
    EXPECT_EQ(5, RefCount(primary.Get())) << "table, group, primary, sameState, again";
    for (const IID* iid : {&IID_IOPCPublicGroupStateMgt, &IID_IOPCServer, &IID_IPersist}) {
        void* answer = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, primary->QueryInterface(*iid, &answer));
        EXPECT_EQ(nullptr, answer);
    }
    EXPECT_EQ(E_INVALIDARG, primary->QueryInterface(IID_IUnknown, nullptr));
}

TEST(CloneGroup, TakesTheLowestFreeSlotInactiveWithTheSourcesState)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt> groups[5];
    for (int i = 0; i < 5; ++i)
        groups[i] = AddGroup(server.Get(), (L"G" + std::to_wstring(i)).c_str());
    ASSERT_EQ(OPC_S_INUSE, server->RemoveGroup(3, FALSE));
    ComPtr<IOPCGroupStateMgt> source = groups[1];
    DWORD rate = 1100;  // rounded to 1000 here; the clone takes 1000 as stored
    DWORD revised;
    LONG bias = 60;
    FLOAT deadband = 5.0f;
    DWORD lcid = 0x804;
    OPCHANDLE client = 77;
    ASSERT_EQ(S_OK, source->SetState(&rate, &revised, nullptr, &bias, &deadband, &lcid, &client));

    ComPtr<IOPCGroupStateMgt> clone;
    ASSERT_EQ(S_OK, source->CloneGroup(L"G1", IID_IOPCGroupStateMgt,
                                       reinterpret_cast<IUnknown**>(clone.GetAddressOf())));
    EXPECT_EQ(2, RefCount(clone.Get())) << "the client's and the group table's";
    const GroupStateView state = StateOf(clone.Get());
    EXPECT_EQ(3u, state.server);
    EXPECT_FALSE(state.active);
    EXPECT_EQ(1000u, state.rate);
    EXPECT_EQ(60, state.timeBias);
    EXPECT_EQ(5.0f, state.deadband);
    EXPECT_EQ(0x804u, state.lcid);
    EXPECT_EQ(77u, state.client);
    EXPECT_EQ(L"G1", state.name) << "the name may repeat another group's";
}

TEST(CloneGroup, CopiesItemsFreshFromTheirTagsWithNothingPending)
{
    TestTags tags;
    ItemTestGroup source;
    // No update pass runs: the write waits in the source item.
    const OPCHANDLE handle = source.Add(L"INT", FALSE, VT_R8, 33).result.hServer;
    ASSERT_EQ(S_OK, source.Write(handle, I4(5).get()));
    g_tagMirror[1]->value.integer = 77;  // the tag INT moved on meanwhile
    // A hole below the top: the copies keep their handles, and the clone's next items fill it.
    source.AddGood(L"REAL");
    const OPCHANDLE top = source.AddGood(L"REAL");
    OPCHANDLE hole = top - 1;
    TaskOut<HRESULT> removeErrors;
    ASSERT_EQ(S_OK, source.Items()->RemoveItems(1, &hole, removeErrors.out()));

    ComPtr<IOPCGroupStateMgt> state;
    ASSERT_EQ(S_OK, source.Items()->QueryInterface(IID_PPV_ARGS(&state)));
    ComPtr<IUnknown> clone;
    ASSERT_EQ(S_OK, state->CloneGroup(L"C", IID_IUnknown, clone.GetAddressOf()));
    ItemTable& copies = static_cast<GroupObject*>(clone.Get())->Items();
    std::vector<OPCHANDLE> copied;
    copies.ForEach([&copied](const ItemObject& item) { copied.push_back(item.ServerHandle()); });
    EXPECT_EQ((std::vector<OPCHANDLE>{handle, top}), copied);
    EXPECT_EQ(VT_R4, copies.Find(top)->CanonicalType());
    ComPtr<IOPCItemMgt> cloneItems;
    ASSERT_EQ(S_OK, clone.As(&cloneItems));
    OPCITEMDEF definitions[2] = {};
    definitions[0].szItemID = definitions[1].szItemID = const_cast<LPWSTR>(L"INT");
    TaskOut<OPCITEMRESULT> added;
    TaskOut<HRESULT> addErrors;
    ASSERT_EQ(S_OK, cloneItems->AddItems(2, definitions, added.out(), addErrors.out()));
    EXPECT_EQ(hole, added[0].hServer);
    EXPECT_EQ(top + 1, added[1].hServer);
    const ItemObject* copy = static_cast<GroupObject*>(clone.Get())->Items().Find(handle);
    ASSERT_TRUE(copy);
    EXPECT_EQ(33u, copy->ClientHandle());
    EXPECT_EQ(VT_R8, copy->RequestedType());
    EXPECT_FALSE(copy->Active());
    EXPECT_STREQ(L"INT", copy->ItemId());
    VariantOwner value;
    WORD quality = 0;
    FILETIME time{};
    EXPECT_EQ(S_OK, copy->Read(OPC_DS_DEVICE, value.Receive(), &quality, &time));
    EXPECT_EQ(77.0, value.get().dblVal) << "the tag's value, not the source's unposted write";
    EXPECT_EQ(OPC_QUALITY_GOOD, quality);
    EXPECT_FALSE(copy->WritePending()) << "a write is posted once, by the item it was made to";
    EXPECT_EQ(0, copy->ChangeMask());
    EXPECT_TRUE(source.Item(handle)->WritePending());
}

TEST(CloneGroup, FullTableOrRefusedInterfaceLeavesNothingBehind)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt> groups[10];
    for (int i = 0; i < 9; ++i)
        groups[i] = AddGroup(server.Get(), (L"G" + std::to_wstring(i)).c_str());
    IUnknown* clone = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_NOINTERFACE, groups[0]->CloneGroup(L"C", IID_IOPCPublicGroupStateMgt, &clone));
    EXPECT_EQ(nullptr, clone);
    groups[9] = AddGroup(server.Get(), L"Last");
    ASSERT_TRUE(groups[9]) << "the refused clone left slot 9 free";
    clone = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_OUTOFMEMORY, groups[0]->CloneGroup(L"C", IID_IUnknown, &clone));
    EXPECT_EQ(nullptr, clone);
}

// IOPCGroupStateMgt2, the part IOPCGroupStateMgt's QueryInterface answers: the keep-alive time
// as kept, a whole number of poll periods (the update pass looks once a poll cycle); 0 turns
// it off. A clone takes the time.
TEST(KeepAlive, IsKeptInWholePollPeriodsAndZeroTurnsItOff)
{
    ScopedPollPeriod period(500);
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt2> group;
    ASSERT_EQ(S_OK, AddGroup(server.Get(), L"G").As(&group));
    DWORD kept = 0xDEAD;
    EXPECT_EQ(S_OK, group->GetKeepAlive(&kept));
    EXPECT_EQ(0u, kept) << "off until set";
    const struct {
        DWORD requested;
        DWORD revised;
        HRESULT result;
    } cases[] = {
        {1, 500, OPC_S_UNSUPPORTEDRATE},
        {499, 500, OPC_S_UNSUPPORTEDRATE},
        {500, 500, S_OK},
        {1100, 1500, OPC_S_UNSUPPORTEDRATE},
        {3000, 3000, S_OK},
        {0, 0, S_OK},
        {0xFFFFFFFF, 4294967000u, OPC_S_UNSUPPORTEDRATE},  // no multiple above fits
    };
    for (const auto& c : cases) {
        DWORD revised = 0xDEAD;
        EXPECT_EQ(c.result, group->SetKeepAlive(c.requested, &revised)) << c.requested;
        EXPECT_EQ(c.revised, revised) << c.requested;
        EXPECT_EQ(S_OK, group->GetKeepAlive(&kept));
        EXPECT_EQ(c.revised, kept) << c.requested;
    }
    EXPECT_EQ(E_INVALIDARG, group->SetKeepAlive(1000, nullptr));
    EXPECT_EQ(E_INVALIDARG, group->GetKeepAlive(nullptr));
    DWORD revised = 0;
    ASSERT_EQ(S_OK, group->SetKeepAlive(3000, &revised));
    ComPtr<IOPCGroupStateMgt2> clone;
    ASSERT_EQ(S_OK, group->CloneGroup(L"C", IID_IOPCGroupStateMgt2,
                                      reinterpret_cast<IUnknown**>(clone.GetAddressOf())));
    EXPECT_EQ(S_OK, clone->GetKeepAlive(&kept));
    EXPECT_EQ(3000u, kept) << "the clone's own, taken from its source";
    ComPtr<IOPCGroupStateMgt> plain;
    ASSERT_EQ(S_OK, group.As(&plain));
    EXPECT_EQ(static_cast<IOPCGroupStateMgt*>(group.Get()), plain.Get()) << "one part answers both";
}

}  // namespace
