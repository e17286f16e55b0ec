#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "tests/app/test_project.h"
#include "tests/app/tray_probe.h"
#include "tests/e2e/server_process.h"

namespace {

constexpr char kServerClass[] = "Parhelionix OPCServer Class";
constexpr UINT kAppExit = 0xE141;
// With no client the exit takes well under a second; this only catches one that waits for
// something it need not (2 s for the tray under Xvfb, a fixed pause).
constexpr ULONGLONG kNoClientExitDeadlineMs = 1500;

std::wstring WindowText(HWND hwnd)
{
    wchar_t text[256] = L"";
    GetWindowTextW(hwnd, text, 256);
    return text;
}

struct CloseCase {
    const char* name;
    const char* arguments;
    UINT message;
    WPARAM wParam;
};

class RunningServer : public testing::TestWithParam<CloseCase> {};

TEST_P(RunningServer, IsHiddenInTheTrayAndEndsInOrderSoonAfterItIsClosed)
{
    TestProject project(3);
    ViewerStandIn viewer(17);
    ServerProcess server(project.SystemDirectory(), GetParam().arguments);
    ASSERT_TRUE(server.Started());
    HWND window = server.WaitForWindow(kServerClass);
    ASSERT_NE(nullptr, window);
    // The tray icon is the last thing start-up adds.
    ASSERT_TRUE(WaitUntil([&] { return TrayIconPresent(window); }));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(L"数据通讯程序", WindowText(window));

    const ULONGLONG closed = GetTickCount64();
    PostMessageA(window, GetParam().message, GetParam().wParam, 0);
    EXPECT_EQ(0u, server.WaitForExit());
    const ULONGLONG exitMs = GetTickCount64() - closed;
    RecordProperty("exit_ms", static_cast<int>(exitMs));
    EXPECT_LT(exitMs, kNoClientExitDeadlineMs)
        << "the exit with no client took " << exitMs << " ms";
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(TrayIconPresent(window));
}

INSTANTIATE_TEST_SUITE_P(Closing, RunningServer,
                         testing::Values(CloseCase{"WindowClose", "", WM_CLOSE, 0},
                                         CloseCase{"TrayMenuExit", "", WM_COMMAND, kAppExit},
                                         // COM starts the server so; it changes nothing.
                                         CloseCase{"StartedByCom", "-Embedding", WM_CLOSE, 0}),
                         [](const testing::TestParamInfo<CloseCase>& info) {
                             return info.param.name;
                         });

class SecondServer : public testing::TestWithParam<const char*> {};

// Started by hand it ends at once; started by COM, once its client can reach the first.
TEST_P(SecondServer, EndsSilentlyAndChangesNothing)
{
    TestProject project(3);
    ViewerStandIn viewer(17);
    ServerProcess first(project.SystemDirectory());
    HWND window = first.WaitForWindow(kServerClass);
    ASSERT_NE(nullptr, window);
    // A second start that got as far as the configuration would repair this.
    const std::string config = project.ProjectDirectory() + "PXVIEWER.CFG";
    WriteBytes(config, "Foreign");

    ServerProcess second(project.SystemDirectory(), GetParam());
    EXPECT_EQ(0u, second.WaitForExit());
    EXPECT_EQ("Foreign", ReadBytes(config));
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(window, FindWindowA(kServerClass, nullptr));
}

INSTANTIATE_TEST_SUITE_P(Starts, SecondServer, testing::Values("", "-Embedding"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(*info.param ? "ByCom" : "ByHand");
                         });

TEST(ServerWithoutViewer, StartsTheViewerMinimisedAndEnds)
{
    TestProject project(3);
    ASSERT_TRUE(CopyFileA((ProgramDirectory() + "viewer_launch_probe.exe").c_str(),
                          (project.SystemDirectory() + "\\PXViewer.exe").c_str(), FALSE));
    ServerProcess server(project.ProjectDirectory());
    EXPECT_EQ(0u, server.WaitForExit());
    EXPECT_EQ(nullptr, FindWindowA(kServerClass, nullptr));

    const std::string note = project.SystemDirectory() + "\\viewer_started.txt";
    ASSERT_TRUE(WaitUntil([&] { return !ReadBytes(note).empty(); }));
    EXPECT_EQ(project.SystemDirectory() + "\n" + std::to_string(SW_SHOWMINIMIZED) + "\n",
              ReadBytes(note));
    EXPECT_EQ(304u, ReadBytes(project.ProjectDirectory() + "PXVIEWER.CFG").size());
}

// A message box shown by the given process, with its caption, texts and whether it shows an
// icon.
struct SeenBox {
    HWND window = nullptr;
    std::wstring caption;
    std::vector<std::wstring> texts;
    bool icon = false;
};

BOOL CALLBACK ReadBoxControl(HWND control, LPARAM param)
{
    auto* box = reinterpret_cast<SeenBox*>(param);
    char className[16] = "";
    GetClassNameA(control, className, sizeof className);
    if (lstrcmpiA(className, "Static") != 0) return TRUE;
    if ((GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        box->icon = box->icon || SendMessageA(control, STM_GETICON, 0, 0) != 0;
    } else {
        box->texts.push_back(WindowText(control));
    }
    return TRUE;
}

SeenBox FindBoxOf(DWORD processId)
{
    SeenBox box;
    for (HWND dialog = FindWindowA("#32770", nullptr); dialog;
         dialog = FindWindowExA(nullptr, dialog, "#32770", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(dialog, &owner);
        // A box becomes visible once it is filled in.
        if (owner != processId || !IsWindowVisible(dialog)) continue;
        box.window = dialog;
        box.caption = WindowText(dialog);
        EnumChildWindows(dialog, ReadBoxControl, reinterpret_cast<LPARAM>(&box));
        break;
    }
    return box;
}

struct BoxCase {
    const char* name;
    bool damagedTagDatabase;
    int sharedRecords;
    const wchar_t* message;
    bool icon;
};

class StartupBox : public testing::TestWithParam<BoxCase> {};

TEST_P(StartupBox, ShowsItsMessageAndEndsWhenDismissed)
{
    const BoxCase& c = GetParam();
    TestProject project(3);
    if (c.damagedTagDatabase) project.WriteTagDatabase("Foreign DB header..", 3);
    ViewerStandIn viewer(c.sharedRecords);
    ServerProcess server(project.SystemDirectory());

    SeenBox box;
    ASSERT_TRUE(WaitUntil([&] {
        box = FindBoxOf(server.Id());
        return box.window != nullptr;
    }));
    EXPECT_EQ(L"OPCServer", box.caption);
    EXPECT_NE(box.texts.end(), std::find(box.texts.begin(), box.texts.end(), c.message));
    EXPECT_EQ(c.icon, box.icon);

    PostMessageA(box.window, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0u, server.WaitForExit());
    EXPECT_EQ(nullptr, FindWindowA(kServerClass, nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, StartupBox,
    testing::Values(BoxCase{"DamagedTagDatabase", true, 17,
                            L"系统变量数据库被破坏，请在开发系统中重新建立!", false},
                    BoxCase{"NoSharedTagArea", false, 0,
                            L"无法打开实时数据库共享内存，请重新启动运行系统!", true}),
    [](const testing::TestParamInfo<BoxCase>& info) { return info.param.name; });

}  // namespace
