// The server's OPC DA 2.0 and OPC Common interfaces across processes: IOPCCommon and
// IOPCItemProperties of the registered server, the shutdown notice its users' Exit sends to a
// client's IOPCShutdown sink before the server process ends, and the bound on that exit whatever
// a client does (frozen in the notice or in a DA 1.0 data change, or killed).
#include <windows.h>
#include <wrl/client.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "opc_da.h"
#include "opc_error.h"
#include "server_identity.h"
#include "tests/e2e/opc_server_e2e_environment.h"
#include "tests/opc/include/task_memory.h"
#include "viewer/win_handles.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr UINT kAppExit = 0xE141;  // the tray menu's Exit
constexpr DWORD kServerEndMs = 30000;
// Within 5 s of the user's Exit the server process has ended.
constexpr DWORD kExitBoundMs = 5000;

template <class Interface>
ComPtr<Interface> CreateServerAs()
{
    ComPtr<Interface> server;
    EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr,
                                              CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server)));
    return server;
}

TEST(OpcCommon, LocalesAndChineseErrorTextsAcrossProcesses)
{
    ComPtr<IOPCCommon> common = CreateServerAs<IOPCCommon>();
    ASSERT_TRUE(common);
    DWORD count = 0;
    TaskOut<LCID> locales;
    ASSERT_EQ(S_OK, common->QueryAvailableLocaleIDs(&count, locales.out()));
    EXPECT_EQ((std::vector<LCID>{LOCALE_SYSTEM_DEFAULT, 0x0409, 0x0804}),
              std::vector<LCID>(locales.get(), locales.get() + count));
    EXPECT_EQ(E_INVALIDARG, common->SetLocaleID(0x0407));
    ASSERT_EQ(S_OK, common->SetLocaleID(0x0804));
    ASSERT_EQ(S_OK, common->SetClientName(L"端到端测试"));
    TaskOut<wchar_t> text;
    ASSERT_EQ(S_OK, common->GetErrorString(OPC_E_INVALID_PID, text.out()));
    ASSERT_NE(nullptr, text.get());
    EXPECT_STREQ(L"指定的属性 ID 对该数据项无效。", text.get());
}

TEST(OpcItemProperties, PropertiesOfTheProjectsTagsAcrossProcesses)
{
    ComPtr<IOPCItemProperties> properties = CreateServerAs<IOPCItemProperties>();
    ASSERT_TRUE(properties);
    std::wstring level = L"Tagname.Level";
    DWORD count = 0;
    TaskOut<DWORD> ids;
    LPWSTR* descriptions = nullptr;
    TaskOut<VARTYPE> types;
    ASSERT_EQ(S_OK, properties->QueryAvailableProperties(level.data(), &count, ids.out(),
                                                         &descriptions, types.out()));
    ASSERT_EQ(6u, count);
    ASSERT_NE(nullptr, descriptions);
    EXPECT_STREQ(L"Item Value", descriptions[1]);
    EXPECT_EQ(VT_I4, types[1]);
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(descriptions[i]);
    CoTaskMemFree(descriptions);

    DWORD wanted[] = {2, 3, 101};
    TaskOut<VARIANT> values;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_FALSE,
              properties->GetItemProperties(level.data(), 3, wanted, values.out(), errors.out()));
    EXPECT_EQ(VT_I4, values[0].vt);
    EXPECT_EQ(42, values[0].lVal);
    EXPECT_EQ(OPC_QUALITY_GOOD, values[1].iVal);
    EXPECT_EQ(OPC_E_INVALID_PID, errors[2]);

    std::wstring unknown = L"NoSuchTag";
    VARIANT* noValues = nullptr;
    HRESULT* noErrors = nullptr;
    EXPECT_EQ(OPC_E_UNKNOWNITEMID,
              properties->GetItemProperties(unknown.data(), 1, wanted, &noValues, &noErrors));
    EXPECT_EQ(nullptr, noValues);
}

// A client's IOPCShutdown sink that notes the reason and whether the server process still ran
// when the notice came.
class ShutdownSink : public IOPCShutdown {
public:
    explicit ShutdownSink(HANDLE serverProcess) : serverProcess_(serverProcess) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IOPCShutdown ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack: COM's references do not decide its life.
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&references); }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override
    {
        reason = szReason ? szReason : L"(null)";
        serverRanAtNotice = WaitForSingleObject(serverProcess_, 0) == WAIT_TIMEOUT;
        return S_OK;
    }

    LONG references = 0;
    std::wstring reason;
    bool serverRanAtNotice = false;

private:
    HANDLE serverProcess_;
};

UniqueHandle OpenServerProcess()
{
    const DWORD processId = ServerProcessId();
    EXPECT_NE(0u, processId);
    return UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, processId));
}

DWORD Advise(IUnknown* server, IOPCShutdown* sink)
{
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(S_OK, server->QueryInterface(IID_PPV_ARGS(&container)));
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, &point));
    DWORD cookie = 0;
    EXPECT_EQ(S_OK, point->Advise(sink, &cookie));
    return cookie;
}

// Next's count comes back written across processes, with S_FALSE when fewer than asked for. A
// sink of another process is not listed: handing the client's own object back through the
// system's marshalling leaves the client's stub without its references under Wine.
TEST(ConnectionPoints, NextAnswersItsCountAcrossProcesses)
{
    ComPtr<IOPCServer> server = CreateServerAs<IOPCServer>();
    ASSERT_TRUE(server);
    UniqueHandle process = OpenServerProcess();
    ShutdownSink sink(process.get());
    const DWORD cookie = Advise(server.Get(), &sink);
    OPCHANDLE group = 0;
    DWORD rate = 0;
    ComPtr<IConnectionPointContainer> groupPoints;
    ASSERT_EQ(S_OK, server->AddGroup(L"listing", TRUE, 1000, 1, nullptr, nullptr, 0, &group, &rate,
                                     IID_IConnectionPointContainer, &groupPoints));
    ComPtr<IConnectionPointContainer> serverPoints;
    ASSERT_EQ(S_OK, server.As(&serverPoints));
    const struct {
        IConnectionPointContainer* container;
        const IID& iid;
    } points[] = {{serverPoints.Get(), IID_IOPCShutdown}, {groupPoints.Get(), IID_IOPCDataCallback}};
    for (const auto& p : points) {
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(S_OK, p.container->FindConnectionPoint(p.iid, &point));
        ComPtr<IEnumConnections> connections;
        ASSERT_EQ(S_OK, point->EnumConnections(&connections));
        CONNECTDATA data[2] = {};
        ULONG fetched = 0xDEADBEEF;
        EXPECT_EQ(S_FALSE, connections->Next(2, data, &fetched));
        EXPECT_EQ(0u, fetched);
        EXPECT_EQ(S_FALSE, connections->Next(1, data, nullptr));
    }
    ComPtr<IConnectionPoint> shutdownPoint;
    ASSERT_EQ(S_OK, serverPoints->FindConnectionPoint(IID_IOPCShutdown, &shutdownPoint));
    EXPECT_EQ(S_OK, shutdownPoint->Unadvise(cookie));
    groupPoints.Reset();
    EXPECT_EQ(S_OK, server->RemoveGroup(group, FALSE));
}

TEST(ShutdownNotice, TheSinkHearsTheReasonBeforeTheServerEnds)
{
    const struct {
        const char* how;
        bool sessionEnds;
        const wchar_t* english;
        const wchar_t* chinese;
    } cases[] = {
        {"tray Exit", false, L"The OPC server is shutting down.", L"OPC 服务器正在关闭。"},
        {"Windows ends the session", true,
         L"Windows is ending the session: the OPC server is shutting down.",
         L"Windows 正在结束会话，OPC 服务器正在关闭。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ComPtr<IOPCServer> english = CreateServerAs<IOPCServer>();
        ComPtr<IOPCServer> chinese = CreateServerAs<IOPCServer>();
        ASSERT_TRUE(english && chinese);
        ComPtr<IOPCCommon> common;
        ASSERT_EQ(S_OK, chinese.As(&common));
        ASSERT_EQ(S_OK, common->SetLocaleID(0x0804));
        UniqueHandle process = OpenServerProcess();
        ASSERT_TRUE(process);
        ShutdownSink englishSink(process.get()), chineseSink(process.get());
        Advise(english.Get(), &englishSink);
        Advise(chinese.Get(), &chineseSink);

        const HWND window = FindWindowA("Parhelionix OPCServer Class", nullptr);
        if (c.sessionEnds) {
            // As Windows does: it asks, then tells. The notice comes back into this apartment
            // while the server handles the message, so that one is posted.
            DWORD_PTR allowed = FALSE;
            ASSERT_NE(0, SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                             SMTO_ABORTIFHUNG, kServerEndMs, &allowed));
            EXPECT_EQ(TRUE, static_cast<BOOL>(allowed)) << "the server never objects";
            ASSERT_TRUE(PostMessageA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF));
        } else {
            ASSERT_TRUE(PostMessageA(window, WM_COMMAND, kAppExit, 0));
        }
        // The notice comes into this apartment: wait while serving it.
        HANDLE handle = process.get();
        DWORD index = 0;
        ASSERT_EQ(S_OK, CoWaitForMultipleHandles(0, kServerEndMs, 1, &handle, &index))
            << "the server did not end";
        EXPECT_EQ(c.english, englishSink.reason);
        EXPECT_EQ(c.chinese, chineseSink.reason);
        EXPECT_TRUE(englishSink.serverRanAtNotice);
        EXPECT_TRUE(chineseSink.serverRanAtNotice);
        // A dead server's stubs must not reach the sinks once they are gone.
        CoDisconnectObject(&englishSink, 0);
        CoDisconnectObject(&chineseSink, 0);
    }
}

enum class ClientState { FrozenInShutdownNotice, FrozenInOnDataChange, Killed };

struct ExitCase {
    const char* name;
    const wchar_t* mode;
    ClientState state;
};

class ServerExit : public testing::TestWithParam<ExitCase> {};

// The user's Exit ends the process within its bound whatever the connected client does: the
// notice waits at most 3 s for a client, and nothing the client does after that holds the end.
TEST_P(ServerExit, EndsWithinFiveSecondsWhateverTheClientDoes)
{
    const ExitCase& c = GetParam();
    OtherClient client(c.mode);
    ASSERT_TRUE(client.Connected()) << "the client did not connect";
    if (c.state == ClientState::FrozenInOnDataChange) {
        ASSERT_TRUE(client.Frozen()) << "no data change came";
    }
    if (c.state == ClientState::Killed) client.Kill();
    UniqueHandle server = OpenServerProcess();
    ASSERT_TRUE(server);

    const ULONGLONG closed = GetTickCount64();
    ASSERT_TRUE(
        PostMessageA(FindWindowA("Parhelionix OPCServer Class", nullptr), WM_COMMAND, kAppExit, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server.get(), kExitBoundMs))
        << "the server's exit waits on the client";
    RecordProperty("exit_ms", static_cast<int>(GetTickCount64() - closed));
    if (c.state == ClientState::FrozenInShutdownNotice) {
        EXPECT_TRUE(client.Frozen(0)) << "the notice did not come";
        EXPECT_TRUE(client.Running()) << "the client is still frozen";
    }
    // The next test's activation starts a new server.
    WaitForSingleObject(server.get(), kServerEndMs);
}

INSTANTIATE_TEST_SUITE_P(
    Clients, ServerExit,
    testing::Values(ExitCase{"FrozenDa2ClientInItsShutdownNotice", L"shutdown",
                             ClientState::FrozenInShutdownNotice},
                    ExitCase{"FrozenDa1ClientInOnDataChange", L"data-object",
                             ClientState::FrozenInOnDataChange},
                    ExitCase{"KilledClient", L"shutdown", ClientState::Killed}),
    [](const testing::TestParamInfo<ExitCase>& info) { return info.param.name; });

}  // namespace

