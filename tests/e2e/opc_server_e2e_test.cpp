// The registered server answering OPC clients in other processes through the proxy/stub DLL:
// opcclient.exe and this test program, each with its own server objects.
#include <windows.h>
#include <wrl/client.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "diagnostics/support_trace.h"
#include "opc_da.h"
#include "opc_error.h"
#include "server_identity.h"
#include "tests/e2e/opc_server_e2e_environment.h"
#include "tests/opc/include/task_memory.h"
#include "tests/support/temp_directory.h"
#include "viewer/bounded_wait.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kServedObjects = 9;  // the server table's entries 1..9
constexpr int kPatienceMs = 60000;

// How many OPCServer.exe processes run.
int ServerCopies()
{
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int copies = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"OPCServer.exe") == 0) ++copies;
    }
    return copies;
}

ComPtr<IOPCServer> CreateServer(HRESULT* result = nullptr)
{
    ComPtr<IOPCServer> server;
    const HRESULT hr = CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                        IID_PPV_ARGS(&server));
    if (result) {
        *result = hr;
    } else {
        EXPECT_HRESULT_SUCCEEDED(hr);
    }
    return server;
}

OPCHANDLE AddGroup(IOPCServer* server, const wchar_t* name, ComPtr<IUnknown>& group)
{
    OPCHANDLE handle = 99;
    DWORD revised = 0;
    EXPECT_EQ(S_OK, server->AddGroup(name, TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &revised,
                                     IID_IUnknown, &group));
    return handle;
}

FILETIME StartTimeOf(IOPCServer* server)
{
    TaskOut<OPCSERVERSTATUS> status;
    EXPECT_EQ(S_OK, server->GetStatus(status.out()));
    if (!status.get()) return FILETIME{};
    TaskMem<wchar_t> vendor(status.get()->szVendorInfo);
    return status.get()->ftStartTime;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(OpcClientTool, ShowsTheStatusOfTheServerCreatedByProgId)
{
    std::string output;
    ASSERT_EQ(0u, RunProgram(L"opcclient.exe", L"status", output)) << output;
    EXPECT_TRUE(Contains(output, "vendor:       Parhelionix")) << output;
    EXPECT_TRUE(Contains(output, "state:        running")) << output;
    EXPECT_TRUE(Contains(output, "version:      7.1.6")) << output;
    EXPECT_TRUE(Contains(output, "groups:       0")) << output;

    output.clear();
    ASSERT_EQ(0u, RunProgram(L"opcclient.exe", L"--server Parhelionix.OPCServer.1 status", output))
        << output;
    EXPECT_TRUE(Contains(output, "vendor:       Parhelionix")) << output;
}

TEST(OpcClientTool, AddsListsAndRemovesGroupsOnItsServerObject)
{
    std::string output;
    // 100 ms is faster than the project's poll period: the server revises it to 1000 ms.
    ASSERT_EQ(0u, RunProgram(L"opcclient.exe",
                             L"add-group Tanks 100 + add-group 泵 2500 inactive + "
                             "list-groups + remove-group 0 + list-groups + status",
                             output))
        << output;
    EXPECT_TRUE(Contains(output, "added group \"Tanks\": server handle 0, update rate 1000 ms"))
        << output;
    EXPECT_TRUE(Contains(output, "added group \"泵\": server handle 1, update rate 2500 ms"))
        << output;
    EXPECT_TRUE(
        Contains(output, "  0  \"Tanks\"  1000 ms  active\n  1  \"泵\"  2500 ms  inactive\n"))
        << output;
    EXPECT_TRUE(Contains(output,
                         "removed group 0\ngroups (server handle, name, update rate, "
                         "active):\n  1  \"泵\"  2500 ms  inactive\n"))
        << output;
    EXPECT_TRUE(Contains(output, "groups:       1")) << output;
}

TEST(OpcClientTool, PrintsTheServersTextForAFailureAndExitsNonZeroInBothBitnesses)
{
    for (const wchar_t* client : kOpcclients) {
        std::string output;
        EXPECT_EQ(3u, RunProgram(client, L"add-group A + add-group A", output)) << output;
        // The client asks for the system's texts: Chinese on this code-page-936 system.
        EXPECT_TRUE(Contains(output, "opcclient: add-group: 不允许重复的名称。 (0xC004000C)"))
            << output;
        output.clear();
        EXPECT_EQ(3u, RunProgram(client, L"remove-group 4", output)) << output;
        EXPECT_TRUE(Contains(output, "opcclient: remove-group: 未指定的错误。 (0x80004005)"))
            << output;
        output.clear();
        EXPECT_EQ(2u, RunProgram(client, L"--server No.Such.Server status", output)) << output;
        EXPECT_TRUE(Contains(output, "opcclient: cannot create No.Such.Server: ")) << output;
        output.clear();
        EXPECT_EQ(1u, RunProgram(client, L"frobnicate", output)) << output;
    }
}

TEST(ServerObjects, TwoClientsGetIndependentObjectsWhoseHandlesStartAtZero)
{
    ComPtr<IOPCServer> mine = CreateServer();
    ASSERT_TRUE(mine);
    ComPtr<IUnknown> first, second;
    EXPECT_EQ(0u, AddGroup(mine.Get(), L"Shared name", first));
    EXPECT_EQ(1u, AddGroup(mine.Get(), L"Second", second));

    // The other client, in its own process, while this one holds its groups.
    std::string output;
    ASSERT_EQ(0u, RunProgram(L"opcclient.exe", L"add-group \"Shared name\" + status", output))
        << output;
    EXPECT_TRUE(Contains(output, "server handle 0")) << output;
    EXPECT_TRUE(Contains(output, "groups:       1")) << output;

    ComPtr<IOPCServer> another = CreateServer();
    ComPtr<IUnknown> third;
    EXPECT_EQ(0u, AddGroup(another.Get(), L"Shared name", third));
    TaskOut<OPCSERVERSTATUS> status;
    ASSERT_EQ(S_OK, mine->GetStatus(status.out()));
    TaskMem<wchar_t> vendor(status.get()->szVendorInfo);
    EXPECT_EQ(2u, status.get()->dwGroupCount);
}

TEST(ServerObjects, TheTenthLiveObjectIsRefusedAndAFailedCreationCountsNothing)
{
    // A creation whose interface the object lacks leaves nothing behind, so nine objects still
    // fit afterwards.
    HRESULT refused = S_OK;
    ComPtr<IUnknown> publicGroups;
    refused = CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IOPCServerPublicGroups, &publicGroups);
    EXPECT_EQ(E_NOINTERFACE, refused);

    std::vector<ComPtr<IOPCServer>> servers;
    for (int i = 0; i < kServedObjects; ++i) {
        HRESULT hr = E_FAIL;
        servers.push_back(CreateServer(&hr));
        ASSERT_EQ(S_OK, hr) << "object " << i + 1;
    }
    HRESULT tenth = S_OK;
    EXPECT_FALSE(CreateServer(&tenth));
    EXPECT_EQ(E_OUTOFMEMORY, tenth);

    std::string output;
    EXPECT_EQ(2u, RunProgram(L"opcclient.exe", L"status", output)) << output;
    EXPECT_TRUE(Contains(output, "(0x8007000E)")) << output;

    servers.pop_back();
    HRESULT again = E_FAIL;
    EXPECT_TRUE(CreateServer(&again));
    EXPECT_EQ(S_OK, again);
}

// The limits raised in the registry take effect when the server starts; removed again, with the
// server closed, when the test ends, so that the next start has the defaults.
class RaisedLimits {
public:
    RaisedLimits(DWORD maxClients, DWORD maxGroupsPerClient)
    {
        m_closed = CloseServer();
        RegSetKeyValueW(HKEY_CURRENT_USER, kSettings, L"MaxClients", REG_DWORD, &maxClients,
                        sizeof maxClients);
        RegSetKeyValueW(HKEY_CURRENT_USER, kSettings, L"MaxGroupsPerClient", REG_DWORD,
                        &maxGroupsPerClient, sizeof maxGroupsPerClient);
    }
    ~RaisedLimits()
    {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, L"MaxClients");
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, L"MaxGroupsPerClient");
        CloseServer();
    }
    RaisedLimits(const RaisedLimits&) = delete;
    RaisedLimits& operator=(const RaisedLimits&) = delete;
    bool ServerClosed() const { return m_closed; }

private:
    static constexpr wchar_t kSettings[] = L"Software\\Parhelionix\\OPC Server";
    bool m_closed = false;
};

TEST(ServerObjects, RaisedSettingsServeSixteenObjectsOfTwentyGroupsAndRefuseOnlyPastThem)
{
    constexpr int kClients = 16;
    constexpr int kGroups = 20;
    const RaisedLimits limits(kClients, kGroups);
    ASSERT_TRUE(limits.ServerClosed());
    {
        std::vector<ComPtr<IOPCServer>> servers;
        std::vector<ComPtr<IUnknown>> groups;
        for (int i = 0; i < kClients; ++i) {
            HRESULT hr = E_FAIL;
            servers.push_back(CreateServer(&hr));
            ASSERT_EQ(S_OK, hr) << "object " << i + 1;
            for (OPCHANDLE expected = 0; expected < kGroups; ++expected) {
                groups.emplace_back();
                ASSERT_EQ(expected, AddGroup(servers.back().Get(),
                                             (L"G" + std::to_wstring(expected)).c_str(),
                                             groups.back()));
            }
            OPCHANDLE handle = 99;
            DWORD revised = 0;
            ComPtr<IUnknown> refused;
            EXPECT_EQ(E_OUTOFMEMORY,
                      servers.back()->AddGroup(L"One more", TRUE, 1000, 0, nullptr, nullptr, 0,
                                               &handle, &revised, IID_IUnknown, &refused));
        }
        HRESULT seventeenth = S_OK;
        EXPECT_FALSE(CreateServer(&seventeenth));
        EXPECT_EQ(E_OUTOFMEMORY, seventeenth);
        servers.pop_back();
        HRESULT again = E_FAIL;
        EXPECT_TRUE(CreateServer(&again)) << "a freed entry serves the next client";
        EXPECT_EQ(S_OK, again);
    }
}

// LockServer is not among these: Wine's IClassFactory proxy answers it with E_NOTIMPL itself,
// so it never reaches the server from another process (the unit tests count it).
// Wine runs no rundown of a dead client's references: the server knows the client's process from
// its activation and frees what it held once it has gone, sinks or none.
TEST(ServerObjects, AKilledClientsEntryServesANewClient)
{
    std::vector<ComPtr<IOPCServer>> held;
    for (int i = 1; i < kServedObjects; ++i) held.push_back(CreateServer());
    OtherClient client(L"shutdown");
    ASSERT_TRUE(client.Connected());
    HRESULT refused = S_OK;
    ASSERT_FALSE(CreateServer(&refused));
    ASSERT_EQ(E_OUTOFMEMORY, refused) << "the table is full before the kill";

    client.Kill();
    ComPtr<IOPCServer> newcomer;
    EXPECT_TRUE(WaitUntil(
        [&] {
            newcomer = CreateServer(&refused);
            return newcomer != nullptr;
        },
        kPatienceMs))
        << "the killed client's entry stays taken";
}

TEST(ClassFactory, CreatesObjectsAndRefusesAggregationAcrossProcesses)
{
    ComPtr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_ParhelionixOPCServer, CLSCTX_LOCAL_SERVER,
                                              nullptr, IID_PPV_ARGS(&factory)));
    ComPtr<IOPCServer> server;
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&server)));
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(server.Get(), IID_PPV_ARGS(&aggregated)));
    EXPECT_EQ(nullptr, aggregated.Get());
}

TEST(ServerProcess, KeepsRunningAfterTheLastClientLeaves)
{
    FILETIME started;
    {
        ComPtr<IOPCServer> server = CreateServer();
        ASSERT_TRUE(server);
        started = StartTimeOf(server.Get());
    }
    const DWORD processId = ServerProcessId();
    ASSERT_NE(0u, processId);
    Sleep(1500);  // a server that ended with its last client would be gone by now
    EXPECT_EQ(processId, ServerProcessId());
    ComPtr<IOPCServer> server = CreateServer();
    ASSERT_TRUE(server);
    const FILETIME again = StartTimeOf(server.Get());
    EXPECT_EQ(0, CompareFileTime(&started, &again)) << "the same server process answers";
}

// Each client that activates the server while none runs may make COM start a copy of its own:
// every client reaches the one copy that serves, and no other copy stays.
TEST(ServerProcess, ClientsStartingItTogetherAllReachTheOneServingCopy)
{
    constexpr int kClients = 21;
    ASSERT_TRUE(CloseServer());
    ASSERT_EQ(0, ServerCopies());
    const std::wstring events =
        L"Parhelionix racing clients " + std::to_wstring(GetCurrentProcessId());
    UniqueHandle waiting(CreateSemaphoreW(nullptr, 0, kClients, (events + L" waiting").c_str()));
    UniqueHandle go(CreateEventW(nullptr, TRUE, FALSE, (events + L" go").c_str()));
    ASSERT_TRUE(waiting && go);
    std::vector<UniqueHandle> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(
            StartClientProgram(L"frozen_shutdown_client.exe", L"activate \"" + events + L"\""));
        ASSERT_TRUE(clients.back());
    }
    for (int i = 0; i < kClients; ++i) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(waiting.get(), kPatienceMs));
    }
    ASSERT_TRUE(SetEvent(go.get()));

    for (const UniqueHandle& client : clients) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(client.get(), kPatienceMs));
        DWORD result = STILL_ACTIVE;
        GetExitCodeProcess(client.get(), &result);
        // Each client lets its object go at once, but a burst of them may find the nine objects
        // the server serves at a time all taken: the serving copy has answered all the same.
        EXPECT_TRUE(result == static_cast<DWORD>(S_OK) ||
                    result == static_cast<DWORD>(E_OUTOFMEMORY))
            << std::hex << "CoCreateInstance: 0x" << result;
    }
    EXPECT_TRUE(WaitUntil([] { return ServerCopies() == 1; }, kPatienceMs))
        << ServerCopies() << " copies run";
}

// Ending COM at exit releases what clients still hold; the groups' teardown must find the
// global lock still there.
TEST(ServerProcess, EndsCleanlyWhileAClientStillHoldsObjects)
{
    ComPtr<IOPCServer> server = CreateServer();
    ASSERT_TRUE(server);
    ComPtr<IUnknown> kept, removed;
    AddGroup(server.Get(), L"Kept", kept);
    AddGroup(server.Get(), L"Removed", removed);
    ASSERT_EQ(OPC_S_INUSE, server->RemoveGroup(1, FALSE)) << "the client still holds it";
    ComPtr<IEnumUnknown> groups;
    ASSERT_EQ(S_OK, server.As(&groups));

    const DWORD processId = ServerProcessId();
    ASSERT_NE(0u, processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    ASSERT_NE(nullptr, process);
    std::unique_ptr<void, decltype(&CloseHandle)> processOwner(process, &CloseHandle);
    ASSERT_TRUE(PostMessageA(FindWindowA("Parhelionix OPCServer Class", nullptr), WM_CLOSE, 0, 0));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 30000));
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process, &exitCode);
    EXPECT_EQ(0u, exitCode);
}

// Switched on in the registry, the support trace tells a field report's story: the client that
// connected, its objects reclaimed after it was killed, the Viewer lost and back, the exit.
TEST(SupportTrace, AKilledClientsReclaimAndTheViewersLossAreInTheTrace)
{
    constexpr wchar_t kSettings[] = L"Software\\Parhelionix\\OPC Server";
    ASSERT_TRUE(CloseServer());
    const std::wstring wide = SupportTracePath();
    const std::string path(wide.begin(), wide.end());  // the temporary folder's path is ASCII
    DeleteFileW(wide.c_str());
    const DWORD on = 1;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kSettings, L"SupportTrace",
                                             REG_DWORD, &on, sizeof on));
    const auto traced = [&path](const char* event) {
        return WaitUntil([&] { return ReadBytes(path).find(event) != std::string::npos; },
                         kPatienceMs);
    };
    {
        OtherClient client(L"shutdown");  // COM starts the server, which reads the switch
        ASSERT_TRUE(client.Connected());
        EXPECT_TRUE(traced("client connected"));
        client.Kill();
        EXPECT_TRUE(traced("client's process ended: reclaiming its server object"));
    }
    ASSERT_TRUE(CloseViewer());
    EXPECT_TRUE(traced("viewer lost"));
    ASSERT_TRUE(StartViewer());
    EXPECT_TRUE(traced("viewer attached"));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, L"SupportTrace");
    ASSERT_TRUE(CloseServer());
    EXPECT_TRUE(traced("exit: done"));
    std::printf("[ figure ] the trace:\n%s", ReadBytes(path).c_str());
}

}  // namespace
