// A client that calls back into the server while the server is still in the call that reached
// the client: from the final Release of its advise sinks (which follows RemoveGroup, DUnadvise
// and the destruction of a server object) and from OnDataChange (the update pass) it
// enumerates the groups, removes groups and releases its server object. Under Wine OnDataChange
// is an ordinary synchronous call, so a client may call out from it. After each case the call
// under test answered as documented, the same server process runs on, a new client is served,
// and a client subscribed beside it all along still receives data.
#include <windows.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "opc_da.h"
#include "opc_error.h"
#include "server_identity.h"
#include "tests/e2e/opc_server_e2e_environment.h"
#include "tests/e2e/server_process.h"
#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/include/task_memory.h"
#include "viewer/win_handles.h"

using Microsoft::WRL::ComPtr;

namespace {

// Bounds every wait on the server; with the project's poll period of 1000 ms a healthy server
// needs less than half of it.
constexpr DWORD kPatienceMs = 5000;
constexpr int kGroups = 2;   // a client's groups: 0 is the one under test, 1 the other one
constexpr LONG kLevel = 42;  // the project's integer tag Level, which nothing here writes

// What the client does from inside a callback, in this order.
enum Action : unsigned {
    kRemoveOwnGroup = 1,    // IOPCServer::RemoveGroup of group 0, whose sink is called
    kRemoveOtherGroup = 2,  // IOPCServer::RemoveGroup of group 1
    kEnumerateGroups = 4,   // IOPCServer::CreateGroupEnumerator; each group fetched and released
    kReleaseServer = 8,     // the client's last reference to its server object
};

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// Adds the item Level to a group; its server handle goes to `item` when it is given.
HRESULT AddLevel(IOPCItemMgt* items, OPCHANDLE* item = nullptr)
{
    OPCITEMDEF level{};
    level.szItemID = const_cast<LPWSTR>(L"Level");
    level.szAccessPath = const_cast<LPWSTR>(L"");
    level.bActive = TRUE;
    level.hClient = 1;
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    const HRESULT hr = items->AddItems(1, &level, results.out(), errors.out());
    if (item && results.get()) *item = results[0].hServer;
    return hr;
}

// A client of the running server in this process: one server object and kGroups groups, each
// with the item Level and its own sink for the data-with-time stream. The client holds its
// groups' IDataObject until it lets go of them; its sinks outlive every interface.
class ReentrantClient {
public:
    ReentrantClient()
    {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                         IID_PPV_ARGS(&server_)));
        for (int i = 0; server_ && i < kGroups; ++i) {
            Group& group = groups_[i];
            const std::wstring name = L"group " + std::to_wstring(i);
            ComPtr<IOPCItemMgt> items;
            DWORD revised = 0;
            EXPECT_EQ(S_OK, server_->AddGroup(name.c_str(), TRUE, 1000, i, nullptr, nullptr, 0,
                                              &group.handle, &revised, IID_IOPCItemMgt,
                                              reinterpret_cast<IUnknown**>(items.GetAddressOf())));
            if (!items) return;
            EXPECT_EQ(S_OK, AddLevel(items.Get()));
            EXPECT_EQ(S_OK, items.As(&group.data));
            FORMATETC format{DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
            EXPECT_EQ(S_OK, group.data->DAdvise(&format, 0, &group.sink, &group.token));
        }
    }
    ~ReentrantClient()
    {
        // What is left to release must not call back into a client being taken apart.
        for (Group& group : groups_) {
            group.sink.onLastRelease = nullptr;
            group.sink.onFirstStream = nullptr;
        }
        // A connection the case already undid answers OLE_E_NOCONNECTION; nothing to do then.
        for (Group& group : groups_) {
            if (group.data) group.data->DUnadvise(group.token);
            group.data.Reset();
        }
        server_.Reset();
        // No stub may outlive its sink, also when the server died holding it.
        for (Group& group : groups_) CoDisconnectObject(&group.sink, 0);
    }
    ReentrantClient(const ReentrantClient&) = delete;
    ReentrantClient& operator=(const ReentrantClient&) = delete;

    bool Ready() const
    {
        for (const Group& group : groups_) {
            if (group.token == 0) return false;
        }
        return true;
    }
    IOPCServer* Server() const { return server_.Get(); }
    OPCHANDLE Handle(int group) const { return groups_[group].handle; }
    DWORD Token(int group) const { return groups_[group].token; }
    const ComPtr<IDataObject>& Data(int group) const { return groups_[group].data; }
    RecordingSink& Sink(int group) { return groups_[group].sink; }

    // From now on the groups live as long as the server keeps them; the sinks stay connected.
    void LetGoOfGroups()
    {
        for (Group& group : groups_) group.data.Reset();
    }
    void ReleaseServer() { server_.Reset(); }

    // Does `actions` with this client's server object and groups, noting each outcome.
    void CallBack(unsigned actions, std::vector<std::string>& log)
    {
        if (!server_) {
            log.push_back("no server object to call");
            return;
        }
        if (actions & kRemoveOwnGroup) {
            log.push_back("RemoveGroup of its own group: " +
                          Hex(server_->RemoveGroup(groups_[0].handle, FALSE)));
        }
        if (actions & kRemoveOtherGroup) {
            log.push_back("RemoveGroup of the other group: " +
                          Hex(server_->RemoveGroup(groups_[1].handle, FALSE)));
        }
        if (actions & kEnumerateGroups) log.push_back(EnumerateGroups());
        if (actions & kReleaseServer) {
            server_.Reset();
            log.push_back("released the server object");
        }
    }

private:
    struct Group {
        RecordingSink sink;  // first: it outlives the interfaces
        ComPtr<IDataObject> data;
        OPCHANDLE handle = 0;
        DWORD token = 0;
    };

    // Fetches the groups one by one and releases each, as a client that looks them over.
    std::string EnumerateGroups()
    {
        ComPtr<IEnumUnknown> groups;
        const HRESULT hr =
            server_->CreateGroupEnumerator(OPC_ENUM_ALL_CONNECTIONS, IID_IEnumUnknown,
                                           reinterpret_cast<IUnknown**>(groups.GetAddressOf()));
        if (hr != S_OK || !groups) return "CreateGroupEnumerator: " + Hex(hr);
        int count = 0;
        for (; count <= 10; ++count) {  // a group table has 10 slots
            ComPtr<IUnknown> group;
            ULONG fetched = 0;
            if (groups->Next(1, group.GetAddressOf(), &fetched) != S_OK || fetched != 1) break;
        }
        return "enumerated " + std::to_string(count) + " group(s)";
    }

    Group groups_[kGroups];
    ComPtr<IOPCServer> server_;
};

// A new client's first steps: the server's status, a group with the item Level and a read of
// it from the device.
void ExpectANewClientServed()
{
    ComPtr<IOPCServer> server;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                     IID_PPV_ARGS(&server)));
    TaskOut<OPCSERVERSTATUS> status;
    ASSERT_EQ(S_OK, server->GetStatus(status.out()));
    EXPECT_EQ(OPC_STATUS_RUNNING, status.get()->dwServerState);
    CoTaskMemFree(status.get()->szVendorInfo);
    OPCHANDLE group = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> items;
    ASSERT_EQ(S_OK, server->AddGroup(L"new client", TRUE, 1000, 7, nullptr, nullptr, 0, &group,
                                     &revised, IID_IOPCItemMgt,
                                     reinterpret_cast<IUnknown**>(items.GetAddressOf())));
    OPCHANDLE item = 0;
    ASSERT_EQ(S_OK, AddLevel(items.Get(), &item));
    ComPtr<IOPCSyncIO> io;
    ASSERT_EQ(S_OK, items.As(&io));
    TaskOut<OPCITEMSTATE> states;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_OK, io->Read(OPC_DS_DEVICE, 1, &item, states.out(), errors.out()));
    EXPECT_EQ(VT_I4, states[0].vDataValue.vt);
    EXPECT_EQ(kLevel, states[0].vDataValue.lVal);
    EXPECT_EQ(OPC_S_INUSE, server->RemoveGroup(group, FALSE)) << "this client still holds it";
}

// The call that reaches the client, made by it or by the server.
enum class Call {
    RemoveGroup,    // IOPCServer::RemoveGroup of group 0: its sink's final Release
    DUnadvise,      // IDataObject::DUnadvise of group 0's sink: its final Release
    ReleaseServer,  // the client's last reference to its server object, its groups let go:
                    // group 0's sink's final Release, acting on another server object
    DataChange,     // the update pass: group 0's OnDataChange
};

struct Scenario {
    const char* name;
    Call call;
    unsigned actions;
    std::vector<std::string> noted;  // what the callback notes, in order
    bool sinkReleased;               // the server let go of group 0's sink by the end
};

void PrintTo(const Scenario& scenario, std::ostream* out)
{
    *out << scenario.name;
}

const std::string kEnumeratedOne = "enumerated 1 group(s)";
const std::string kEnumeratedTwo = "enumerated 2 group(s)";
const std::string kOwnRemoved = "RemoveGroup of its own group: 0x00000000";
const std::string kOwnGone = "RemoveGroup of its own group: 0x80004005";  // E_FAIL
const std::string kOtherRemoved = "RemoveGroup of the other group: 0x00000000";
// OPC_S_INUSE: removed from the table, though the client still holds the group.
const std::string kOwnRemovedHeld = "RemoveGroup of its own group: 0x0004000F";
const std::string kOtherRemovedHeld = "RemoveGroup of the other group: 0x0004000F";
const std::string kReleased = "released the server object";

const Scenario kScenarios[] = {
    // The client still holds the group whose sink DUnadvise releases: it stays in the table.
    {"DUnadvise_SinkReleaseEnumeratesGroups",
     Call::DUnadvise,
     kEnumerateGroups,
     {kEnumeratedTwo},
     true},
    {"DUnadvise_SinkReleaseRemovesTheOtherGroup",
     Call::DUnadvise,
     kRemoveOtherGroup,
     {kOtherRemoved},
     true},
    {"DUnadvise_SinkReleaseRemovesItsGroup",
     Call::DUnadvise,
     kRemoveOwnGroup,
     {kOwnRemovedHeld},
     true},
    {"DUnadvise_SinkReleaseReleasesTheServer", Call::DUnadvise, kReleaseServer, {kReleased}, true},
    // The released server object takes its groups with it; the sink acts on the client's other
    // server object, with two groups of its own that it still holds.
    {"ServerRelease_SinkReleaseEnumeratesGroups",
     Call::ReleaseServer,
     kEnumerateGroups,
     {kEnumeratedTwo},
     true},
    {"ServerRelease_SinkReleaseRemovesAGroup",
     Call::ReleaseServer,
     kRemoveOtherGroup,
     {kOtherRemovedHeld},
     true},
    {"ServerRelease_SinkReleaseReleasesAnotherServer",
     Call::ReleaseServer,
     kReleaseServer,
     {kReleased},
     true},
    {"ServerRelease_SinkReleaseRemovesEnumeratesAndReleases",
     Call::ReleaseServer,
     kRemoveOtherGroup | kEnumerateGroups | kReleaseServer,
     {kOtherRemovedHeld, kEnumeratedOne, kReleased},
     true},
    // Inside the update pass; a removed group, or one of a released server object, goes when
    // the pass is done with it.
    {"DataChange_RemovesItsOwnGroup", Call::DataChange, kRemoveOwnGroup, {kOwnRemoved}, true},
    {"DataChange_EnumeratesGroups", Call::DataChange, kEnumerateGroups, {kEnumeratedTwo}, false},
    {"DataChange_ReleasesTheServer", Call::DataChange, kReleaseServer, {kReleased}, true},
    {"DataChange_RemovesItsGroupEnumeratesAndReleases",
     Call::DataChange,
     kRemoveOwnGroup | kEnumerateGroups | kReleaseServer,
     {kOwnRemoved, kEnumeratedOne, kReleased},
     true},
    // While RemoveGroup runs, the group is already out of the table: not enumerated, not found.
    // These come last, enumeration last of all: once a process has crashed, COM activation in
    // the same Wine session answers RPC_S_SERVER_UNAVAILABLE, so no later case could run.
    {"RemoveGroup_SinkReleaseRemovesTheOtherGroup",
     Call::RemoveGroup,
     kRemoveOtherGroup,
     {kOtherRemoved},
     true},
    {"RemoveGroup_SinkReleaseRemovesTheSameGroupAgain",
     Call::RemoveGroup,
     kRemoveOwnGroup,
     {kOwnGone},
     true},
    {"RemoveGroup_SinkReleaseReleasesTheServer",
     Call::RemoveGroup,
     kReleaseServer,
     {kReleased},
     true},
    {"RemoveGroup_SinkReleaseEnumeratesGroups",
     Call::RemoveGroup,
     kEnumerateGroups,
     {kEnumeratedOne},
     true},
};

std::string ProcessEnd(HANDLE process)
{
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return "the server process ended with " + Hex(static_cast<HRESULT>(code));
}

class ReentrantClientAcrossProcesses : public ::testing::TestWithParam<Scenario> {
protected:
    void TearDown() override
    {
        // A server left damaged would fail the next case for this one's fault.
        if (HasFailure()) {
            EXPECT_TRUE(CloseServer());
        }
    }
};

TEST_P(ReentrantClientAcrossProcesses, TheServerAnswersAndRunsOn)
{
    const Scenario& scenario = GetParam();
    ReentrantClient bystander;
    // After a crash in an earlier case, activation fails (RPC_S_SERVER_UNAVAILABLE) until the
    // Wine session ends.
    ASSERT_TRUE(bystander.Ready()) << "no server to call; did one crash in an earlier case?";
    const UniqueHandle server(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ServerProcessId()));
    ASSERT_TRUE(server);
    {
        ReentrantClient client;
        ASSERT_TRUE(client.Ready());
        std::unique_ptr<ReentrantClient> other;
        if (scenario.call == Call::ReleaseServer) {
            other = std::make_unique<ReentrantClient>();
            ASSERT_TRUE(other->Ready());
        }
        ReentrantClient& target = other ? *other : client;
        std::vector<std::string> noted;
        const auto callBack = [&] { target.CallBack(scenario.actions, noted); };
        // Only DUnadvise needs the client to hold a group; otherwise the server's references
        // are the last ones.
        const ComPtr<IDataObject> data =
            scenario.call == Call::DUnadvise ? client.Data(0) : ComPtr<IDataObject>();
        client.LetGoOfGroups();
        RecordingSink& sink = client.Sink(0);
        switch (scenario.call) {
        case Call::RemoveGroup:
            sink.onLastRelease = callBack;
            EXPECT_EQ(S_OK, client.Server()->RemoveGroup(client.Handle(0), FALSE));
            break;
        case Call::DUnadvise:
            sink.onLastRelease = callBack;
            EXPECT_EQ(S_OK, data->DUnadvise(client.Token(0)));
            break;
        case Call::ReleaseServer:
            sink.onLastRelease = callBack;
            client.ReleaseServer();
            break;
        case Call::DataChange:
            sink.streams.clear();
            sink.onFirstStream = callBack;
            EXPECT_TRUE(WaitUntil([&] { return !noted.empty(); }, kPatienceMs))
                << "no data change came";
            break;
        }
        // The server's delivery thread holds the sink too and may release it after the call
        // returned: the callback from the final Release can come a little later.
        WaitUntil([&] { return noted.size() >= scenario.noted.size(); }, kPatienceMs);
        EXPECT_EQ(scenario.noted, noted);
        if (scenario.sinkReleased) {
            EXPECT_TRUE(WaitUntil([&] { return sink.refs() == 0; }, kPatienceMs))
                << "the server holds " << sink.refs() << " reference(s) to the sink";
        }
        ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 0)) << ProcessEnd(server.get());
    }
    ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 0)) << ProcessEnd(server.get());
    ExpectANewClientServed();
    const size_t before = bystander.Sink(0).streams.size();
    EXPECT_TRUE(WaitUntil([&] { return bystander.Sink(0).streams.size() > before; }, kPatienceMs))
        << "the client subscribed beside the case receives no more data";
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 0)) << ProcessEnd(server.get());
}

INSTANTIATE_TEST_SUITE_P(Callbacks, ReentrantClientAcrossProcesses, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
