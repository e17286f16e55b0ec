#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/support_trace.h"
#include "opc/server/class_factory.h"
#include "opc/server/ended_client_reclaim.h"
#include "opc/server/server_capacity.h"
#include "opc/server/server_object.h"
#include "opc/server/server_table.h"
#include "opc_error.h"
#include "tests/opc/server/com_server_test_support.h"
#include "tests/support/temp_directory.h"

namespace {

TEST(ServerObject, AnswersItsInterfacesWithOneIdentity)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IUnknown> primary;
    ASSERT_EQ(S_OK, server.As(&primary));
    for (const IID* iid :
         {&IID_IOPCServer, &IID_IPersistFile, &IID_IPersist, &IID_IOPCBrowseServerAddressSpace,
          &IID_IOPCCommon, &IID_IOPCItemProperties, &IID_IOPCBrowse, &IID_IOPCItemIO,
          &IID_IConnectionPointContainer}) {
        ComPtr<IUnknown> first, second, viaPart;
        ASSERT_EQ(S_OK, primary->QueryInterface(*iid, &first));
        ASSERT_EQ(S_OK, primary->QueryInterface(*iid, &second));
        EXPECT_EQ(first.Get(), second.Get()) << "one part for every request";
        ASSERT_EQ(S_OK, first->QueryInterface(IID_IUnknown, &viaPart));
        EXPECT_EQ(primary.Get(), viaPart.Get()) << "IUnknown through a part is the object";
    }
    ComPtr<IUnknown> persistFile, persist;
    ASSERT_EQ(S_OK, primary->QueryInterface(IID_IPersistFile, &persistFile));
    ASSERT_EQ(S_OK, primary->QueryInterface(IID_IPersist, &persist));
    EXPECT_EQ(persistFile.Get(), persist.Get()) << "one part serves both";
}

TEST(ServerObject, RefusesInterfacesItDoesNotOffer)
{
    ComPtr<IOPCServer> server = NewServer();
    for (const IID* iid : {&IID_IOPCServerPublicGroups, &IID_IOPCGroupStateMgt, &IID_IDataObject,
                           &IID_IClassFactory}) {
        void* answer = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, server->QueryInterface(*iid, &answer));
        EXPECT_EQ(nullptr, answer);
    }
    EXPECT_EQ(E_INVALIDARG, server->QueryInterface(IID_IUnknown, nullptr));
}

TEST(ServerObject, PartsShareTheObjectsReferenceCount)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IUnknown> primary;
    ASSERT_EQ(S_OK, server.As(&primary));
    EXPECT_EQ(2, RefCount(primary.Get()));
    ComPtr<IPersistFile> persist;
    ASSERT_EQ(S_OK, server.As(&persist));
    EXPECT_EQ(3, RefCount(primary.Get()));
    EXPECT_EQ(4u, persist->AddRef());
    EXPECT_EQ(3u, server->Release());
}

TEST(ServerObject, EnumUnknownIsANewEnumeratorOverTheGroupsOfThatMoment)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IEnumUnknown> empty;
    ASSERT_EQ(S_OK, server.As(&empty));
    ComPtr<IUnknown> element;
    ULONG fetched = 9;
    EXPECT_EQ(S_FALSE, empty->Next(1, &element, &fetched));
    EXPECT_EQ(0u, fetched);

    ComPtr<IOPCGroupStateMgt> group = AddGroup(server.Get(), L"A");
    ComPtr<IEnumUnknown> groups;
    ASSERT_EQ(S_OK, server.As(&groups));
    ASSERT_EQ(S_OK, groups->Next(1, &element, nullptr));
    ComPtr<IUnknown> groupIdentity;
    ASSERT_EQ(S_OK, group.As(&groupIdentity));
    EXPECT_EQ(groupIdentity.Get(), element.Get());
    // The first enumerator keeps its snapshot of no groups.
    ASSERT_EQ(S_OK, empty->Reset());
    EXPECT_EQ(S_FALSE, empty->Next(1, &element, &fetched));
}

TEST(ServerObject, EnumeratorKeepsTheServerObjectAlive)
{
    const LONG before = g_objectCount;
    ComPtr<IEnumUnknown> groups;
    {
        ComPtr<IOPCServer> server = NewServer();
        ASSERT_EQ(S_OK, server.As(&groups));
        EXPECT_EQ(2, RefCount(server.Get()));
    }
    EXPECT_EQ(before + 1, g_objectCount);
    groups.Reset();
    EXPECT_EQ(before, g_objectCount);
}

TEST(ServerObject, DestructionReleasesTheGroupsInItsTable)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt> group = AddGroup(server.Get(), L"Held");
    EXPECT_EQ(2, RefCount(group.Get()));  // the client's and the group table's
    server.Reset();
    EXPECT_EQ(1, RefCount(group.Get()));
}

// What a group outside its server's table answers: nothing would ever post a write or complete
// a request, so they are refused rather than taken and lost.
void ExpectWorkRefused(IOPCGroupStateMgt* group)
{
    ComPtr<IOPCSyncIO> io;
    ASSERT_EQ(S_OK, group->QueryInterface(IID_PPV_ARGS(&io)));
    OPCHANDLE handle = 0;
    VARIANT value{};
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(CO_E_OBJNOTCONNECTED, io->Write(1, &handle, &value, &errors));
    EXPECT_EQ(nullptr, errors);
    ComPtr<IOPCAsyncIO3> async;
    ASSERT_EQ(S_OK, group->QueryInterface(IID_PPV_ARGS(&async)));
    DWORD cancelId = 1;
    DWORD maxAge = 0;
    EXPECT_EQ(CO_E_OBJNOTCONNECTED, async->Read(1, &handle, 1, &cancelId, &errors));
    EXPECT_EQ(CO_E_OBJNOTCONNECTED, async->ReadMaxAge(1, &handle, &maxAge, 1, &cancelId, &errors));
    EXPECT_EQ(CO_E_OBJNOTCONNECTED, async->Refresh2(OPC_DS_CACHE, 1, &cancelId));
    EXPECT_EQ(0u, cancelId);
    EXPECT_EQ(nullptr, errors);
}

TEST(ServerObject, GroupOutlivingItsServerNeverReachesIt)
{
    ComPtr<IOPCServer> server = NewServer();
    ComPtr<IOPCGroupStateMgt> kept = AddGroup(server.Get(), L"Kept");
    ComPtr<IOPCGroupStateMgt> removed = AddGroup(server.Get(), L"Removed");
    ASSERT_EQ(OPC_S_INUSE, server->RemoveGroup(1, FALSE));
    ExpectWorkRefused(removed.Get());
    server.Reset();
    for (IOPCGroupStateMgt* group : {kept.Get(), removed.Get()}) {
        ComPtr<IUnknown> clone;
        EXPECT_EQ(CO_E_OBJNOTCONNECTED, group->CloneGroup(L"Clone", IID_IUnknown, &clone));
        EXPECT_EQ(nullptr, clone.Get());
        DWORD revised = 0;
        DWORD rate = 500;
        EXPECT_EQ(S_OK,
                  group->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(500u, revised);
        ExpectWorkRefused(group);
    }
}

TEST(ServerTable, EntryZeroIsNeverUsedAndMaxClientsObjectsAreServed)
{
    const struct {
        DWORD setting;
        int served;
    } cases[] = {
        {9, 9},        // the default
        {16, 16},
        {256, 256},    // the largest
        {0, 1},        // below the range: its lower end
        {100000, 256}, // above it: its upper end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        const ScopedServerCapacity capacity(c.setting, 10);
        EXPECT_EQ(c.served, CurrentServerCapacity().maxClients);
        std::vector<std::unique_ptr<ServerObject>> objects;
        std::vector<int> indexes, expected;
        for (int i = 0; i <= c.served; ++i) {
            objects.emplace_back(ServerObject::Create(nullptr));
            indexes.push_back(objects.back()->ServerTableIndex());
            expected.push_back(i < c.served ? i + 1 : 0);
        }
        EXPECT_EQ(expected, indexes);
        EXPECT_TRUE(ServerTableFull());
        objects[c.served / 2].reset();  // frees entry served / 2 + 1
        EXPECT_FALSE(ServerTableFull());
        objects.emplace_back(ServerObject::Create(nullptr));
        EXPECT_EQ(c.served / 2 + 1, objects.back()->ServerTableIndex());
    }
}

TEST(ServerTable, OnlyServersOfEndedClientsAreTakenAndTheirEntriesServeAgain)
{
    HANDLE ended = EndedProcess();
    ASSERT_NE(nullptr, ended);
    const struct {
        const char* client;
        DWORD processId;
        bool taken;
    } cases[] = {
        {"ended process", GetProcessId(ended), true},
        {"running process", GetCurrentProcessId(), false},
        {"unknown client", 0, false},
    };
    TempDirectory folder;
    const std::string path = folder.File("trace.log");
    ASSERT_TRUE(StartSupportTrace(std::wstring(path.begin(), path.end()).c_str()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.client);
        ComPtr<ServerObject> server(ServerObject::Create(nullptr));
        const int index = server->ServerTableIndex();
        ASSERT_NE(0, index);
        server->Session()->WatchClient(c.processId);
        ReclaimServersOfEndedClients();
        EXPECT_EQ(c.taken, server->ServerTableIndex() == 0);
        if (!c.taken) continue;
        const std::string reclaimed =
            "reclaiming its server object (entry " + std::to_string(index) + ") and 0 groups";
        StopSupportTrace();
        EXPECT_NE(std::string::npos, ReadBytes(path).find(reclaimed)) << ReadBytes(path);
        ComPtr<ServerObject> newcomer(ServerObject::Create(nullptr));
        EXPECT_EQ(index, newcomer->ServerTableIndex()) << "the entry serves a new client";
        server.Reset();
        ComPtr<ServerObject> third(ServerObject::Create(nullptr));
        EXPECT_NE(index, third->ServerTableIndex())
            << "the reclaimed server's end leaves the newcomer's entry alone";
    }
    CloseHandle(ended);
}

// Handles this thread's messages until `thread` ends: calls from it reach this apartment as
// messages.
void PumpUntilEnded(std::thread& thread, HANDLE ended)
{
    while (MsgWaitForMultipleObjects(1, &ended, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    thread.join();
}

// A client in another apartment that holds proxies of the group enumerator and the shutdown
// connection point it was given and never lets go of them while the server reclaims it, as a
// client whose process died does (Wine runs no DCOM ping that would release them). At the end
// it calls each once and lets go.
class ClientHoldingOn {
public:
    ClientHoldingOn(IEnumUnknown* groups, IConnectionPoint* point)
    {
        CoMarshalInterThreadInterfaceInStream(IID_IEnumUnknown, groups, &groupsStream_);
        CoMarshalInterThreadInterfaceInStream(IID_IConnectionPoint, point, &pointStream_);
        thread_ = std::thread([this] { Hold(); });
        WaitForSingleObject(holding_, 10000);
    }
    ~ClientHoldingOn()
    {
        for (HANDLE event : {holding_, letGo_, ended_}) CloseHandle(event);
    }
    ClientHoldingOn(const ClientHoldingOn&) = delete;
    ClientHoldingOn& operator=(const ClientHoldingOn&) = delete;

    // What the calls through the proxies answered: the enumerator's Reset, the point's
    // GetConnectionInterface.
    std::pair<HRESULT, HRESULT> CallAndLetGo()
    {
        SetEvent(letGo_);
        PumpUntilEnded(thread_, ended_);
        return results_;
    }

private:
    void Hold()
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ComPtr<IEnumUnknown> groups;
            ComPtr<IConnectionPoint> point;
            CoGetInterfaceAndReleaseStream(groupsStream_, IID_PPV_ARGS(&groups));
            CoGetInterfaceAndReleaseStream(pointStream_, IID_PPV_ARGS(&point));
            SetEvent(holding_);
            WaitForSingleObject(letGo_, 30000);
            IID iid;
            if (groups && point) results_ = {groups->Reset(), point->GetConnectionInterface(&iid)};
        }
        CoUninitialize();
        SetEvent(ended_);
    }

    IStream* groupsStream_ = nullptr;
    IStream* pointStream_ = nullptr;
    std::pair<HRESULT, HRESULT> results_{E_UNEXPECTED, E_UNEXPECTED};
    HANDLE holding_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE letGo_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE ended_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread thread_;
};

// A call through a proxy of a disconnected object; when it was the last stub of its interface
// in a process that keeps no interface registered, the interface is gone too.
bool Disconnected(HRESULT hr)
{
    return hr == RPC_E_DISCONNECTED || hr == CO_E_OBJNOTCONNECTED ||
           hr == HRESULT_FROM_WIN32(RPC_S_UNKNOWN_IF);
}

TEST(ServerTable, AnEndedClientsEnumeratorsAndConnectionPointsAreDisconnected)
{
    HANDLE ended = EndedProcess();
    ASSERT_NE(nullptr, ended);
    ComPtr<ServerObject> object(ServerObject::Create(nullptr));
    object->Session()->WatchClient(GetProcessId(ended));
    ComPtr<IOPCServer> server;
    ASSERT_EQ(S_OK, object.As(&server));
    AddGroup(server.Get(), L"G");
    ComPtr<IEnumUnknown> groups;
    ASSERT_EQ(S_OK,
              server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown,
                                            reinterpret_cast<IUnknown**>(groups.GetAddressOf())));
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, object.As(&container));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, &point));
    ClientHoldingOn client(groups.Get(), point.Get());
    groups.Reset();
    point.Reset();
    container.Reset();
    server.Reset();

    ReclaimServersOfEndedClients();
    // Both hold the server object: left connected, they would keep it for good.
    const std::pair<HRESULT, HRESULT> calls = client.CallAndLetGo();
    EXPECT_TRUE(Disconnected(calls.first)) << std::hex << calls.first << ": group enumerator";
    EXPECT_TRUE(Disconnected(calls.second)) << std::hex << calls.second << ": connection point";
    CloseHandle(ended);
}

// What a client does to its server object leaves one trace line each, named by the client.
TEST(SupportTrace, AClientsObjectsLeaveTheirLines)
{
    TempDirectory folder;
    const std::string path = folder.File("trace.log");
    ASSERT_TRUE(StartSupportTrace(std::wstring(path.begin(), path.end()).c_str()));
    {
        ComPtr<IOPCServer> server = NewServer();
        ComPtr<IOPCCommon> common;
        ASSERT_EQ(S_OK, server.As(&common));
        ASSERT_EQ(S_OK, common->SetClientName(L"Trend"));
        OPCHANDLE handle = 0;
        AddGroup(server.Get(), L"G", &handle);
        EXPECT_EQ(S_OK, server->RemoveGroup(handle, TRUE));
    }
    {
        const ScopedServerCapacity capacity(1, 1);
        ComPtr<IOPCServer> server = NewServer();
        AddGroup(server.Get(), L"Only");
        ComPtr<IOPCGroupStateMgt> refused;
        OPCHANDLE handle = 0;
        EXPECT_EQ(E_OUTOFMEMORY,
                  server->AddGroup(L"More", TRUE, 1000, 0, nullptr, nullptr, 0, &handle, nullptr,
                                   IID_IOPCGroupStateMgt,
                                   reinterpret_cast<IUnknown**>(refused.GetAddressOf())));
        void* second = nullptr;
        ComPtr<IClassFactory> factory(new ServerClassFactory);
        EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(nullptr, IID_IOPCServer, &second));
    }
    StopSupportTrace();
    const std::string trace = ReadBytes(path);
    const char* const lines[] = {
        "client connected: server object in entry",
        "\"Trend\" group 0 added, update rate 1000 ms hr=0x00000000",
        "\"Trend\" group 0 removed hr=0x00000000",
        "\"Trend\" client released its server object",
        "new group refused: all 1 group slots in use (the setting MaxGroupsPerClient raises the "
        "limit) hr=0x8007000E",
        "client refused: all 1 server-table entries in use (the setting MaxClients raises the "
        "limit) hr=0x8007000E",
    };
    size_t from = 0;
    for (const char* line : lines) {
        const size_t found = trace.find(line, from);
        EXPECT_NE(std::string::npos, found) << line << " in order in:\n" << trace;
        if (found != std::string::npos) from = found;
    }
}

}  // namespace
