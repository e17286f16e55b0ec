#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opc/com/error_text.h"
#include "opc/server/com_server_lifetime.h"
#include "opc_error.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

struct AddGroupResult {
    HRESULT hr;
    OPCHANDLE handle;
    DWORD revisedRate;
    ComPtr<IOPCGroupStateMgt> group;
};

AddGroupResult Add(IOPCServer* server, const wchar_t* name, DWORD rate = 1000,
                   LONG* timeBias = nullptr, FLOAT* deadband = nullptr)
{
    AddGroupResult result{E_FAIL, 99, 0, nullptr};
    result.hr = server->AddGroup(name, TRUE, rate, 11, timeBias, deadband, 0x804, &result.handle,
                                 &result.revisedRate, IID_IOPCGroupStateMgt,
                                 reinterpret_cast<IUnknown**>(result.group.GetAddressOf()));
    return result;
}

TEST(AddGroup, FillsTheTableFromHandleZeroAndRefusesOnePastMaxGroupsPerClient)
{
    const struct {
        DWORD setting;
        OPCHANDLE served;
    } cases[] = {
        {10, 10},       // the default: an eleventh is refused
        {20, 20},
        {1000, 1000},   // the largest
        {0, 1},         // below the range: its lower end
        {5000, 1000},   // above it: its upper end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        const ScopedServerCapacity capacity(9, c.setting);
        ComPtr<IOPCServer> server = NewServer();
        std::vector<ComPtr<IOPCGroupStateMgt>> groups;
        for (OPCHANDLE expected = 0; expected < c.served; ++expected) {
            AddGroupResult added = Add(server.Get(), (L"G" + std::to_wstring(expected)).c_str());
            ASSERT_EQ(S_OK, added.hr);
            EXPECT_EQ(expected, added.handle);
            groups.push_back(added.group);
        }
        EXPECT_EQ(E_OUTOFMEMORY, Add(server.Get(), L"New").hr);
        EXPECT_EQ(E_OUTOFMEMORY, Add(server.Get(), L"G0").hr) << "the full table is tested first";
        // A freed slot in the middle is the next one taken; the highest one is taken again.
        const OPCHANDLE middle = c.served / 2;
        ASSERT_EQ(S_OK, server->RemoveGroup(middle, TRUE));
        EXPECT_EQ(middle, Add(server.Get(), L"Middle").handle);
        ASSERT_EQ(S_OK, server->RemoveGroup(c.served - 1, TRUE));
        EXPECT_EQ(c.served - 1, Add(server.Get(), L"Last").handle);
        ComPtr<IUnknown> clone;
        EXPECT_EQ(E_OUTOFMEMORY, groups[0]->CloneGroup(L"Clone", IID_IUnknown, &clone));
    }
}

TEST(AddGroup, StoresTheClientsStateAndKeepsTheRequestedRate)
{
    ComPtr<IOPCServer> server = NewServer();
    LONG timeBias = -480;
    FLOAT deadband = 2.5f;
    AddGroupResult added = Add(server.Get(), L"组一", 1234, &timeBias, &deadband);
    ASSERT_EQ(S_OK, added.hr);
    EXPECT_EQ(1234u, added.revisedRate);
    const GroupStateView state = StateOf(added.group.Get());
    EXPECT_EQ(1234u, state.rate);
    EXPECT_TRUE(state.active);
    EXPECT_EQ(L"组一", state.name);
    EXPECT_EQ(-480, state.timeBias);
    EXPECT_EQ(2.5f, state.deadband);
    EXPECT_EQ(0x804u, state.lcid);
    EXPECT_EQ(11u, state.client);
    EXPECT_EQ(0u, state.server);

    AddGroupResult defaults = Add(server.Get(), L"Defaults");
    EXPECT_EQ(0, StateOf(defaults.group.Get()).timeBias);
    EXPECT_EQ(0.0f, StateOf(defaults.group.Get()).deadband);
    EXPECT_EQ(2, RefCount(defaults.group.Get())) << "the client's and the group table's";
}

TEST(AddGroup, NamesANullOrEmptyNamedGroupUniquelyAfterItsSlot)
{
    ComPtr<IOPCServer> server = NewServer();
    for (const wchar_t* name : {L"a", L"b", L"c"}) Add(server.Get(), name);
    AddGroupResult unnamed = Add(server.Get(), nullptr);
    ASSERT_EQ(S_OK, unnamed.hr);
    EXPECT_EQ(L"3", StateOf(unnamed.group.Get()).name);
    AddGroupResult empty = Add(server.Get(), L"");
    ASSERT_EQ(S_OK, empty.hr) << "\"\" is no name, as null is";
    EXPECT_EQ(L"4", StateOf(empty.group.Get()).name);

    // Clients' own names may be slot numbers: the made name counts on past them.
    ComPtr<IOPCServer> other = NewServer();
    std::vector<AddGroupResult> groups;
    for (const wchar_t* name : {L"1", L"", L"3", L"X", L"3_1"}) {
        groups.push_back(Add(other.Get(), name));
        ASSERT_EQ(S_OK, groups.back().hr);
    }
    EXPECT_EQ(L"1_1", StateOf(groups[1].group.Get()).name);
    ASSERT_EQ(OPC_S_INUSE, other->RemoveGroup(3, FALSE));
    AddGroupResult inSlot3 = Add(other.Get(), nullptr);
    ASSERT_EQ(S_OK, inSlot3.hr);
    EXPECT_EQ(3u, inSlot3.handle);
    EXPECT_EQ(L"3_2", StateOf(inSlot3.group.Get()).name);
}

TEST(GroupNames, AreComparedExactlyByAddGroupAndGetGroupByName)
{
    ComPtr<IOPCServer> server = NewServer();
    AddGroupResult upper = Add(server.Get(), L"Group1");
    ASSERT_EQ(S_OK, upper.hr);
    EXPECT_EQ(S_OK, Add(server.Get(), L"group1").hr);
    AddGroupResult duplicate = Add(server.Get(), L"Group1");
    EXPECT_EQ(OPC_E_DUPLICATENAME, duplicate.hr);
    EXPECT_EQ(nullptr, duplicate.group.Get());

    ComPtr<IOPCGroupStateMgt> found;
    ASSERT_EQ(S_OK, server->GetGroupByName(L"Group1", IID_IOPCGroupStateMgt,
                                           reinterpret_cast<IUnknown**>(found.GetAddressOf())));
    EXPECT_EQ(upper.group.Get(), found.Get());
    IUnknown* none = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_FAIL, server->GetGroupByName(L"GROUP1", IID_IUnknown, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(E_NOINTERFACE, server->GetGroupByName(L"Group1", IID_IOPCServer, &none));
}

TEST(AddGroup, UnsupportedInterfaceAddsNothing)
{
    ComPtr<IOPCServer> server = NewServer();
    OPCHANDLE handle = 0;
    IUnknown* group = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_NOINTERFACE, server->AddGroup(L"X", TRUE, 0, 0, nullptr, nullptr, 0, &handle,
                                              nullptr, IID_IOPCPublicGroupStateMgt, &group));
    EXPECT_EQ(nullptr, group);
    EXPECT_EQ(S_OK, Add(server.Get(), L"X").hr);
}

TEST(RemoveGroup, FreesTheSlotForReuseAndLeavesAHeldGroupAlive)
{
    ComPtr<IOPCServer> server = NewServer();
    AddGroupResult first = Add(server.Get(), L"First");
    ASSERT_EQ(0u, first.handle);
    EXPECT_EQ(S_OK, server->RemoveGroup(0, TRUE));
    EXPECT_EQ(E_FAIL, server->RemoveGroup(0, FALSE));
    EXPECT_EQ(1, RefCount(first.group.Get())) << "only the client's reference is left";
    EXPECT_EQ(L"First", StateOf(first.group.Get()).name);
    IUnknown* none = nullptr;
    EXPECT_EQ(E_FAIL, server->GetGroupByName(L"First", IID_IUnknown, &none));
    EXPECT_EQ(0u, Add(server.Get(), L"Second").handle);
    EXPECT_EQ(S_OK, Add(server.Get(), L"First").hr) << "a removed group's name is free";
}

TEST(RemoveGroup, WithoutForceSaysWhenTheClientStillHoldsTheGroup)
{
    ComPtr<IOPCServer> server = NewServer();
    const struct {
        bool held;
        BOOL force;
        HRESULT result;
    } cases[] = {
        {true, FALSE, OPC_S_INUSE},
        {true, TRUE, S_OK},
        {false, FALSE, S_OK},
        {false, TRUE, S_OK},
    };
    for (const auto& c : cases) {
        AddGroupResult added = Add(server.Get(), L"G");
        ASSERT_EQ(S_OK, added.hr);
        ComPtr<IOPCGroupStateMgt> held = c.held ? added.group : nullptr;
        added.group.Reset();
        EXPECT_EQ(c.result, server->RemoveGroup(added.handle, c.force)) << c.held << c.force;
        IUnknown* none = nullptr;
        EXPECT_EQ(E_FAIL, server->GetGroupByName(L"G", IID_IUnknown, &none))
            << "the group leaves the table either way";
        if (held) {
            EXPECT_EQ(1, RefCount(held.Get())) << "only the client's reference is left";
        }
    }
}

TEST(GetStatus, ReportsTheServerAndItsGroupCount)
{
    ComPtr<IOPCServer> server = NewServer();
    Add(server.Get(), L"One");
    Add(server.Get(), L"Two");
    FILETIME before;
    CoFileTimeNow(&before);
    TaskOut<OPCSERVERSTATUS> status;
    ASSERT_EQ(S_OK, server->GetStatus(status.out()));
    TaskMem<wchar_t> vendor(status.get()->szVendorInfo);
    EXPECT_EQ(OPC_STATUS_RUNNING, status.get()->dwServerState);
    EXPECT_EQ(2u, status.get()->dwGroupCount);
    EXPECT_EQ(0u, status.get()->dwBandWidth);
    EXPECT_EQ(7, status.get()->wMajorVersion);
    EXPECT_EQ(1, status.get()->wMinorVersion);
    EXPECT_EQ(6, status.get()->wBuildNumber);
    EXPECT_EQ(42, status.get()->wReserved);
    EXPECT_STREQ(L"Parhelionix", vendor.get());
    EXPECT_EQ(0, CompareFileTime(&g_serverStartTime, &status.get()->ftStartTime));
    EXPECT_GE(CompareFileTime(&status.get()->ftCurrentTime, &before), 0);
    EXPECT_LE(CompareFileTime(&status.get()->ftLastUpdateTime, &status.get()->ftCurrentTime), 0);
}

TEST(GetErrorString, DescribesEveryCodeAndSucceeds)
{
    ComPtr<IOPCServer> server = NewServer();
    for (HRESULT code : {S_OK, OPC_E_DUPLICATENAME, E_NOINTERFACE, CLASS_E_NOAGGREGATION,
                         static_cast<HRESULT>(0xA0F0BEEF)}) {
        TaskOut<wchar_t> text;
        ASSERT_EQ(S_OK, server->GetErrorString(code, 0x409, text.out()));
        ASSERT_NE(nullptr, text.get());
        EXPECT_EQ(DescribeError(code), text.get());
    }
}

TEST(CreateGroupEnumerator, EnumeratesGroupsOrTheirNamesForEveryScope)
{
    ComPtr<IOPCServer> server = NewServer();
    Add(server.Get(), L"A");
    Add(server.Get(), L"B");
    for (OPCENUMSCOPE scope : {OPC_ENUM_PRIVATE_CONNECTIONS, OPC_ENUM_ALL}) {
        ComPtr<IEnumString> names;
        ASSERT_EQ(S_OK,
                  server->CreateGroupEnumerator(
                      scope, IID_IEnumString, reinterpret_cast<IUnknown**>(names.GetAddressOf())));
        LPOLESTR got[3] = {};
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, names->Next(3, got, &fetched));
        ASSERT_EQ(2u, fetched);
        TaskMem<wchar_t> first(got[0]), second(got[1]);
        EXPECT_STREQ(L"A", first.get());
        EXPECT_STREQ(L"B", second.get());
        ComPtr<IEnumUnknown> groups;
        ASSERT_EQ(S_OK, server->CreateGroupEnumerator(
                            scope, IID_IEnumUnknown,
                            reinterpret_cast<IUnknown**>(groups.GetAddressOf())));
        EXPECT_EQ(S_OK, groups->Skip(2));
    }
    for (DWORD scope : {0u, 7u}) {
        ComPtr<IEnumUnknown> none;
        ASSERT_EQ(S_OK,
                  server->CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(scope), IID_IEnumUnknown,
                                                reinterpret_cast<IUnknown**>(none.GetAddressOf())));
        ComPtr<IUnknown> element;
        EXPECT_EQ(S_FALSE, none->Next(1, &element, nullptr));
    }
    IUnknown* other = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_INVALIDARG, server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IOPCServer, &other));
    EXPECT_EQ(nullptr, other);
}

TEST(IOPCServer, NullRequiredPointersAreRefused)
{
    ComPtr<IOPCServer> server = NewServer();
    OPCHANDLE handle = 0;
    IUnknown* unknown = nullptr;
    EXPECT_EQ(E_INVALIDARG, server->AddGroup(L"A", TRUE, 0, 0, nullptr, nullptr, 0, &handle,
                                             nullptr, IID_IUnknown, nullptr));
    EXPECT_EQ(E_INVALIDARG, server->AddGroup(L"A", TRUE, 0, 0, nullptr, nullptr, 0, nullptr,
                                             nullptr, IID_IUnknown, &unknown));
    EXPECT_EQ(E_INVALIDARG, server->GetErrorString(E_FAIL, 0, nullptr));
    EXPECT_EQ(E_INVALIDARG, server->GetGroupByName(nullptr, IID_IUnknown, &unknown));
    EXPECT_EQ(E_INVALIDARG, server->GetGroupByName(L"A", IID_IUnknown, nullptr));
    EXPECT_EQ(E_INVALIDARG, server->GetStatus(nullptr));
    EXPECT_EQ(E_INVALIDARG, server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, nullptr));
    TaskOut<OPCSERVERSTATUS> status;
    ASSERT_EQ(S_OK, server->GetStatus(status.out()));
    TaskMem<wchar_t> vendor(status.get()->szVendorInfo);
    EXPECT_EQ(0u, status.get()->dwGroupCount) << "nothing was added";
}

}  // namespace
