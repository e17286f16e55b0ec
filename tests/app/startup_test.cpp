#include "app/opc_server_app.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/com_startup.h"
#include "app/instance_claim.h"
#include "app/window_classes.h"
#include "framework/message_box.h"
#include "framework/shell_execute.h"
#include "framework/wnd.h"
#include "runtime_link/ansi_text.h"
#include "runtime_link/project_files.h"
#include "runtime_link/shared_tag_area.h"
#include "runtime_link/tag_mirror.h"
#include "tests/app/test_project.h"
#include "tests/app/tray_probe.h"

namespace {

struct Box {
    std::string caption;
    std::string text;
    UINT type;
};
std::vector<Box> g_boxes;

int RecordBox(const char* caption, const char* text, UINT type)
{
    g_boxes.push_back({caption, text, type});
    return IDOK;
}

struct Launch {
    HWND owner;
    bool defaultVerb;
    std::string file;
    bool noParameters;
    std::string directory;
    int showCommand;
};
std::vector<Launch> g_launches;

HINSTANCE RecordLaunch(HWND owner, const char* verb, const char* file, const char* parameters,
                       const char* directory, int showCommand)
{
    g_launches.push_back({owner, verb == nullptr, file, parameters == nullptr,
                          directory ? directory : "", showCommand});
    return reinterpret_cast<HINSTANCE>(33);
}

// Another copy of the server, as far as the instance claim tells: the claim taken on a thread of
// its own, announced or not, and held until the copy ends.
class OtherCopy {
public:
    explicit OtherCopy(bool announced)
        : m_thread([this, announced] {
              InstanceClaim claim;
              if (claim.Take(false, 0) && announced) claim.AnnounceClassObject();
              SetEvent(m_taken);
              WaitForSingleObject(m_end, INFINITE);
          })
    {
        WaitForSingleObject(m_taken, INFINITE);
    }
    ~OtherCopy()
    {
        End();
        CloseHandle(m_taken);
        CloseHandle(m_end);
    }
    OtherCopy(const OtherCopy&) = delete;
    OtherCopy& operator=(const OtherCopy&) = delete;

    // The copy's end: its claim is let go on its thread's end.
    void End()
    {
        SetEvent(m_end);
        if (m_thread.joinable()) m_thread.join();
    }

private:
    HANDLE m_taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE m_end = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread m_thread;
};

// The real application, noting each step of start-up as it passes.
class WatchedApp : public COPCServerApp {
public:
    explicit WatchedApp(int showCommand) { m_nCmdShow = showCommand; }

    std::vector<std::string> steps;
    bool mainWindowAtAttach = false;
    bool mirrorBuiltAtComStart = false;

protected:
    bool LookupProject() override { return Note("lookup", COPCServerApp::LookupProject()); }
    void LoadViewerConfiguration() override
    {
        steps.push_back("configuration");
        COPCServerApp::LoadViewerConfiguration();
    }
    void StartViewer() override
    {
        steps.push_back("start viewer");
        COPCServerApp::StartViewer();
    }
    bool CheckTagDatabase() override
    {
        return Note("tag database", COPCServerApp::CheckTagDatabase());
    }
    void AttachSharedTagArea() override
    {
        steps.push_back("attach");
        mainWindowAtAttach = m_pMainWnd && IsWindow(m_pMainWnd->m_hWnd);
        COPCServerApp::AttachSharedTagArea();
    }
    void BuildTagMirror() override
    {
        steps.push_back("mirror");
        COPCServerApp::BuildTagMirror();
    }
    void StartCom() override
    {
        steps.push_back("com");
        mirrorBuiltAtComStart = g_mirrorCount == g_tagCount && g_tagMirror[0] != nullptr;
        COPCServerApp::StartCom();
    }

private:
    bool Note(const char* step, bool result)
    {
        steps.push_back(step);
        return result;
    }
};

class StartupTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_boxes.clear();
        g_launches.clear();
        SetMessageBoxSeam(RecordBox);
        SetShellExecuteSeam(RecordLaunch);
    }
    void TearDown() override
    {
        SetMessageBoxSeam(nullptr);
        SetShellExecuteSeam(nullptr);
        // The holder that mapped the area has gone with its application object.
        g_sharedTagArea = nullptr;
        g_sharedTagRecordCapacity = 0;
    }
};

enum class Setup {
    ServerRunning,
    NoMakerFile,
    NoProjectDirectory,
    NoViewer,
    DamagedTagDatabase,
    NoSharedTagArea
};

struct FailureCase {
    const char* name;
    Setup setup;
    const wchar_t* message;  // null: no box
    UINT boxType;
    std::vector<std::string> steps;
};

class StartupFailure : public StartupTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(StartupFailure, EndsWithItsMessageAndTouchesNothingAtExit)
{
    const FailureCase& c = GetParam();
    TestProject project;
    std::optional<OtherCopy> otherServer;
    std::optional<ViewerStandIn> viewer;
    switch (c.setup) {
    case Setup::ServerRunning:
        otherServer.emplace(true);
        break;
    case Setup::NoMakerFile:
        DeleteFileA((project.SystemDirectory() + "\\PXMAKER.DAT").c_str());
        break;
    case Setup::NoProjectDirectory:
        project.WriteMakerFile(project.SystemDirectory() + "\\gone\\");
        break;
    case Setup::NoViewer:
        break;
    case Setup::DamagedTagDatabase:
        viewer.emplace(17);
        project.WriteTagDatabase("Foreign DB header..", 3);
        break;
    case Setup::NoSharedTagArea:
        viewer.emplace(0);
        break;
    }

    WatchedApp app(SW_HIDE);
    // What exit must leave alone after an early end.
    auto untouched = std::make_unique<MirrorEntry>();
    g_tagMirror[0] = untouched.get();
    g_registrationCookie = 7;

    EXPECT_EQ(0, app.RunApplication());

    EXPECT_EQ(c.steps, app.steps);
    if (c.message) {
        ASSERT_EQ(1u, g_boxes.size());
        EXPECT_EQ("OPCServer", g_boxes[0].caption);
        EXPECT_EQ(AnsiFromWide(c.message), g_boxes[0].text);
        EXPECT_EQ(c.boxType, g_boxes[0].type);
    } else {
        EXPECT_TRUE(g_boxes.empty());
    }
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    EXPECT_EQ(nullptr, FindWindowA(kServerWindowClass, nullptr));
    EXPECT_FALSE(g_comStarted);
    EXPECT_EQ(untouched.get(), g_tagMirror[0]);
    EXPECT_EQ(7u, g_registrationCookie);
    g_tagMirror[0] = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    EachEarlyEnd, StartupFailure,
    testing::Values(
        FailureCase{"AnotherServerRuns", Setup::ServerRunning, nullptr, 0, {}},
        FailureCase{"NoMakerFile",
                    Setup::NoMakerFile,
                    L"应用程序目录不存在!",
                    MB_ICONEXCLAMATION,
                    {"lookup"}},
        FailureCase{"NoProjectDirectory",
                    Setup::NoProjectDirectory,
                    L"应用程序目录不存在!",
                    MB_ICONEXCLAMATION,
                    {"lookup"}},
        FailureCase{
            "NoViewer", Setup::NoViewer, nullptr, 0, {"lookup", "configuration", "start viewer"}},
        FailureCase{"DamagedTagDatabase",
                    Setup::DamagedTagDatabase,
                    L"系统变量数据库被破坏，请在开发系统中重新建立!",
                    MB_OK,
                    {"lookup", "configuration", "tag database"}},
        FailureCase{"NoSharedTagArea",
                    Setup::NoSharedTagArea,
                    L"无法打开实时数据库共享内存，请重新启动运行系统!",
                    MB_ICONEXCLAMATION,
                    {"lookup", "configuration", "tag database", "attach"}}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

struct ClaimCase {
    const char* name;
    bool startedByCom;
    bool otherCopyAnnounces;
    bool otherCopyEnds;  // while this copy waits
    bool serves;
};

class RacingCopy : public testing::TestWithParam<ClaimCase> {};

TEST_P(RacingCopy, ServesOnlyWhenNoOtherCopyServes)
{
    const ClaimCase& c = GetParam();
    OtherCopy other(c.otherCopyAnnounces);
    std::thread ender;
    if (c.otherCopyEnds)
        ender = std::thread([&] {
            Sleep(200);
            other.End();
        });
    InstanceClaim claim;
    EXPECT_EQ(c.serves, claim.Take(c.startedByCom, c.otherCopyEnds ? 30000 : 500));
    if (ender.joinable()) ender.join();
}

INSTANTIATE_TEST_SUITE_P(
    Claims, RacingCopy,
    testing::Values(ClaimCase{"ByHandWhileAnotherServes", false, true, false, false},
                    ClaimCase{"ByHandWhileAnotherStarts", false, false, false, false},
                    ClaimCase{"ByComWhileAnotherServes", true, true, false, false},
                    ClaimCase{"ByComWhileAnotherNeverServes", true, false, false, false},
                    ClaimCase{"ByComWhileAnotherEndsWithoutServing", true, false, true, true}),
    [](const testing::TestParamInfo<ClaimCase>& info) { return info.param.name; });

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

// The accounts an object's access list lets in, as SID strings, in its order.
std::vector<std::wstring> AccountsLetIn(HANDLE object)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return {L"(no access list)"};
    }
    const std::unique_ptr<void, LocalFreer> owned(descriptor);
    std::vector<std::wstring> accounts;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        wchar_t* text = nullptr;
        if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !ConvertSidToStringSidW(&allowed->SidStart, &text)) {
            accounts.push_back(L"(not an allowing entry)");
            continue;
        }
        accounts.push_back(text);
        LocalFree(text);
    }
    return accounts;
}

std::wstring CurrentUser()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    wchar_t* text = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    const std::wstring user = text ? text : L"";
    LocalFree(text);
    return user;
}

// The claim's named objects are this session's, carry the server's class identifier, and let
// in only the current user and SYSTEM; the former session-wide names are not used.
TEST(InstanceClaimObjects, AreTheSessionsNamedAfterTheClassAndTheUsersOnly)
{
    InstanceClaim claim;
    ASSERT_TRUE(claim.Take(false, 0));
    const struct {
        const char* what;
        HANDLE opened;
        HANDLE formerName;
    } objects[] = {
        {"claim",
         OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE,
                    L"Local\\Parhelionix OPCServer {A6B3AAE6-8850-4700-8188-7B135685DC4D} serving"),
         OpenMutexW(SYNCHRONIZE, FALSE, L"Parhelionix OPCServer serving")},
        {"class object",
         OpenEventW(SYNCHRONIZE | READ_CONTROL, FALSE,
                    L"Local\\Parhelionix OPCServer {A6B3AAE6-8850-4700-8188-7B135685DC4D} class "
                    L"object"),
         OpenEventW(SYNCHRONIZE, FALSE, L"Parhelionix OPCServer class object")},
    };
    for (const auto& o : objects) {
        SCOPED_TRACE(o.what);
        ASSERT_NE(nullptr, o.opened);
        EXPECT_EQ(nullptr, o.formerName);
        EXPECT_EQ((std::vector<std::wstring>{CurrentUser(), L"S-1-5-18"}), AccountsLetIn(o.opened));
        CloseHandle(o.opened);
        if (o.formerName) CloseHandle(o.formerName);
    }
}

TEST_F(StartupTest, MissingViewerIsStartedMinimisedFromTheSystemDirectory)
{
    TestProject project;
    WatchedApp app(SW_HIDE);
    app.RunApplication();

    ASSERT_EQ(1u, g_launches.size());
    const Launch& launch = g_launches[0];
    EXPECT_EQ(nullptr, launch.owner);
    EXPECT_TRUE(launch.defaultVerb);
    EXPECT_EQ("PXViewer.exe", launch.file);
    EXPECT_TRUE(launch.noParameters);
    EXPECT_EQ(project.SystemDirectory(), launch.directory);
    EXPECT_EQ(SW_SHOWMINIMIZED, launch.showCommand);
    // The configuration is written even by a start that only starts the Viewer.
    EXPECT_EQ(304u, ReadBytes(project.ProjectDirectory() + "PXVIEWER.CFG").size());
}

TEST_F(StartupTest, FullStartRunsEveryStepInOrderAndExitUndoesComAndMirror)
{
    TestProject project(2);
    ViewerStandIn viewer(17);
    strcpy(viewer.Records()[1].name, "Level");
    WatchedApp app(SW_SHOWNORMAL);

    ASSERT_TRUE(app.InitInstance());

    EXPECT_EQ((std::vector<std::string>{"lookup", "configuration", "tag database", "attach",
                                        "mirror", "com"}),
              app.steps);
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_TRUE(g_launches.empty());
    EXPECT_TRUE(app.mainWindowAtAttach);
    EXPECT_TRUE(app.mirrorBuiltAtComStart);
    EXPECT_STREQ(L"Level", g_tagMirror[1]->name);
    EXPECT_TRUE(g_comStarted);
    HWND frame = app.m_pMainWnd->m_hWnd;
    EXPECT_EQ(frame, FindWindowA(kServerWindowClass, nullptr));
    EXPECT_FALSE(IsWindowVisible(frame));
    ASSERT_NE(nullptr, app.m_trayIcon);
    EXPECT_TRUE(TrayIconPresent(frame));

    SendMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_FALSE(TrayIconPresent(frame));
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));

    g_registrationCookie = 7;
    EXPECT_EQ(0, app.ExitInstance());
    EXPECT_EQ(0u, g_registrationCookie);
    EXPECT_EQ(nullptr, g_tagMirror[0]);
    EXPECT_EQ(nullptr, g_tagMirror[1]);
}

}  // namespace
