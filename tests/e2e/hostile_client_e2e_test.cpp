// Careless and hostile clients across processes: each bound of the server hit once by a client
// that floods, asks for huge answers, lies about its array sizes or leaves requests behind,
// with the server still answering, other clients keeping their pace and the server's memory
// back near its level afterwards.
#include <windows.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <ocidl.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

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

// ---- Giant calls: refused with their code before the server allocates or walks anything ----

namespace {

// A Browse of the tag branch with `filter` and `point`, all that it hands out freed again.
HRESULT BrowseTags(IOPCBrowse* browse, std::wstring filter, const std::wstring& point)
{
    std::wstring branch(L"Tagname");
    std::wstring vendor;
    LPWSTR continuation = nullptr;
    if (!point.empty()) {
        continuation = static_cast<LPWSTR>(CoTaskMemAlloc((point.size() + 1) * sizeof(wchar_t)));
        if (!continuation) return E_OUTOFMEMORY;
        std::copy(point.c_str(), point.c_str() + point.size() + 1, continuation);
    }
    DWORD none = 0;
    BOOL more = FALSE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    const HRESULT hr =
        browse->Browse(branch.data(), &continuation, 0, OPC_BROWSE_FILTER_ALL, filter.data(),
                       vendor.data(), FALSE, FALSE, 0, &none, &more, &count, &elements);
    for (DWORD i = 0; elements && i < count; ++i) {
        CoTaskMemFree(elements[i].szName);
        CoTaskMemFree(elements[i].szItemID);
    }
    CoTaskMemFree(elements);
    CoTaskMemFree(continuation);
    return hr;
}

std::vector<DWORD> PropertyIds(DWORD count)
{
    std::vector<DWORD> ids(count);
    for (DWORD i = 0; i < count; ++i) ids[i] = i + 1;
    return ids;
}

TEST(HostileClient, GiantCallsAreRefusedWithTheirCodeAndCostTheServerNothing)
{
    ComPtr<IOPCServer> server;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr,
                                              CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server)));
    ComPtr<IOPCBrowse> browse;
    ComPtr<IOPCItemProperties> properties;
    ASSERT_HRESULT_SUCCEEDED(server.As(&browse));
    ASSERT_HRESULT_SUCCEEDED(server.As(&properties));
    const SIZE_T before = ServerPrivateBytes();
    ASSERT_NE(0u, before);
    std::wstring level(L"Level");

    const struct {
        const char* what;
        HRESULT expected;
        std::function<HRESULT()> call;
    } cases[] = {
        {"GetProperties of 1000 IDs x 10^6 property IDs", E_INVALIDARG,
         [&] {
             std::vector<LPWSTR> items(1000, level.data());
             std::vector<DWORD> ids = PropertyIds(1000000);
             OPCITEMPROPERTIES* lists = nullptr;
             const HRESULT hr = browse->GetProperties(1000, items.data(), TRUE, 1000000,
                                                      ids.data(), &lists);
             EXPECT_EQ(nullptr, lists);
             return hr;
         }},
        {"GetProperties of 10000 IDs x 1000 property IDs: past the budget", E_OUTOFMEMORY,
         [&] {
             std::vector<LPWSTR> items(10000, level.data());
             std::vector<DWORD> ids = PropertyIds(1000);
             OPCITEMPROPERTIES* lists = nullptr;
             const HRESULT hr =
                 browse->GetProperties(10000, items.data(), TRUE, 1000, ids.data(), &lists);
             EXPECT_EQ(nullptr, lists);
             return hr;
         }},
        {"Browse with a filter of 10^6 '*'", OPC_E_INVALIDFILTER,
         [&] { return BrowseTags(browse.Get(), std::wstring(1000000, L'*'), L""); }},
        {"Browse with a continuation point of 10^6 units", OPC_E_INVALIDCONTINUATIONPOINT,
         [&] { return BrowseTags(browse.Get(), L"", std::wstring(1000000, L'p')); }},
        {"GetItemProperties of 10^6 IDs", E_INVALIDARG,
         [&] {
             std::vector<DWORD> ids = PropertyIds(1000000);
             VARIANT* values = nullptr;
             HRESULT* errors = nullptr;
             const HRESULT hr =
                 properties->GetItemProperties(level.data(), 1000000, ids.data(), &values, &errors);
             EXPECT_EQ(nullptr, values);
             EXPECT_EQ(nullptr, errors);
             return hr;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.expected, c.call());
        EXPECT_TRUE(ServerAnswers()) << "another client is still answered";
    }
    // Each refused call took nothing the server keeps; what the RPC runtime caches of the
    // calls' buffers may stay.
    const SIZE_T after = ServerPrivateBytes();
    ASSERT_NE(0u, after);
    EXPECT_LT(static_cast<double>(after), static_cast<double>(before) + 16.0 * 1048576.0)
        << "from " << before << " to " << after << " bytes";
}

}  // namespace
