// Careless and hostile clients across processes: each bound of the server hit once by a client
// that floods, asks for huge answers, lies about its array sizes or leaves requests behind,
// with the server still answering, other clients keeping their pace and the server's memory
// back near its level afterwards.
#include <windows.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <ocidl.h>

#include "bench/server_figures.h"
#include "opc_da.h"
#include "opc_error.h"
#include "server_identity.h"
#include "tests/e2e/opc_server_e2e_environment.h"
#include "viewer/win_handles.h"

using Microsoft::WRL::ComPtr;

namespace {

// A second client's GetStatus: the server still answers whatever the hostile one did.
bool ServerAnswers()
{
    ComPtr<IOPCServer> server;
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&server)))) {
        return false;
    }
    OPCSERVERSTATUS* status = nullptr;
    if (FAILED(server->GetStatus(&status)) || !status) return false;
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    return true;
}

TEST(HostileClient, ServerAnswersAndItsMemoryIsReadable)
{
    EXPECT_TRUE(ServerAnswers());
    EXPECT_NE(0u, ServerPrivateBytes());
}

// ---- The exit re-entered: messages that end the server, sent during its shutdown notice ----

// Within 5 s of the first message that ends it the server process has ended.
constexpr DWORD kExitBoundMs = 5000;
constexpr DWORD kServerEndMs = 30000;

// An IOPCShutdown sink that, in its first notice, sends the server's window what an uninstaller
// and a logoff would send while the notice is still waited for: WM_ENDSESSION (not waited for,
// as Windows does not wait on one process before it tells the next) and then WM_CLOSE (waited
// for, so that both have been handled before the notice returns).
class ReenteringShutdownSink : public IOPCShutdown {
public:
    explicit ReenteringShutdownSink(HWND serverWindow) : serverWindow_(serverWindow) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IOPCShutdown ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack: COM's references do not decide its life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR) override
    {
        if (InterlockedIncrement(&requests) == 1) {
            SendNotifyMessageA(serverWindow_, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
            DWORD_PTR answer = 0;
            closeAnswered = SendMessageTimeoutA(serverWindow_, WM_CLOSE, 0, 0, SMTO_NORMAL,
                                                kServerEndMs, &answer) != 0;
        }
        return S_OK;
    }

    LONG requests = 0;
    bool closeAnswered = false;

private:
    HWND serverWindow_;
};

TEST(HostileClient, ExitReenteredDuringItsNoticeRunsOnceWithinItsBound)
{
    ComPtr<IOPCServer> server;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr,
                                              CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server)));
    const HWND window = FindWindowA("Parhelionix OPCServer Class", nullptr);
    ASSERT_NE(nullptr, window);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const UniqueHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    ASSERT_TRUE(process);
    ReenteringShutdownSink sink(window);
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, server.As(&container));
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, &point));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));

    const ULONGLONG closed = GetTickCount64();
    ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
    // The notice comes into this apartment: wait while serving it.
    HANDLE handle = process.get();
    DWORD index = 0;
    EXPECT_EQ(S_OK, CoWaitForMultipleHandles(0, kExitBoundMs, 1, &handle, &index))
        << "the server's exit did not end within its bound";
    RecordProperty("exit_ms", static_cast<int>(GetTickCount64() - closed));
    EXPECT_EQ(1, sink.requests) << "the shutdown notice came more than once";
    EXPECT_TRUE(sink.closeAnswered) << "the WM_CLOSE sent during the notice was not answered";
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(0u, exitCode) << "the exit ended the process some other way (a crash?)";
    // The next test's activation starts a new server; a dead server's stub must not reach the
    // sink once it is gone.
    CoWaitForMultipleHandles(0, kServerEndMs, 1, &handle, &index);
    point.Reset();
    container.Reset();
    server.Reset();
    CoDisconnectObject(&sink, 0);
}

}  // namespace

// ---- Counts larger than their arrays ----
// count_lying_client.exe's proxies send one element for every [in] array whatever count they
// pass: each call below claims 100000. The server's stub must refuse them before the server
// reads past the array, from a 64-bit and a 32-bit client, and leave the client's group as it
// was.
namespace {

const wchar_t* const kCountLyingClients[] = {L"count_lying_client.exe",
                                             L"x86\\count_lying_client.exe"};

const wchar_t* const kCallsWithCountsLargerThanTheirArrays[] = {
    L"ItemMgt.AddItems",
    L"ItemMgt.ValidateItems",
    L"ItemMgt.RemoveItems",
    L"ItemMgt.SetActiveState",
    L"ItemMgt.SetClientHandles",
    L"ItemMgt.SetDatatypes",
    L"SyncIO.Read",
    L"SyncIO.Write",
    L"SyncIO2.ReadMaxAge",
    L"SyncIO2.WriteVQT",
    L"AsyncIO.Read",
    L"AsyncIO.Write",
    L"AsyncIO2.Read",
    L"AsyncIO2.Write",
    L"AsyncIO3.ReadMaxAge",
    L"AsyncIO3.WriteVQT",
    L"ItemDeadbandMgt.SetItemDeadband",
    L"ItemDeadbandMgt.GetItemDeadband",
    L"ItemDeadbandMgt.ClearItemDeadband",
    L"ItemProperties.GetItemProperties",
    L"ItemProperties.LookupItemIDs",
    L"Browse.GetProperties",
    L"Browse.Browse",
    L"ItemIO.Read",
    L"ItemIO.WriteVQT",
};

TEST(HostileClient, CallsWithCountsLargerThanTheirArraysAreRefusedBeforeTheServerReadsThem)
{
    std::wstring calls;
    for (const wchar_t* call : kCallsWithCountsLargerThanTheirArrays)
        calls += std::wstring(call) + L" ";
    for (const wchar_t* client : kCountLyingClients) {
        std::string output;
        ASSERT_EQ(0u, RunProgram(client, calls, output)) << output;
        for (const wchar_t* call : kCallsWithCountsLargerThanTheirArrays) {
            const std::wstring wide = std::wstring(call) + L" 0x800706F7 unchanged";
            const std::string expected(wide.begin(), wide.end());
            EXPECT_NE(std::string::npos, output.find(expected))
                << "client " << static_cast<const void*>(client) << ": " << output;
        }
        EXPECT_TRUE(ServerAnswers());
    }
}

}  // namespace
