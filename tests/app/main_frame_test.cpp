#include "app/main_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/opc_server_app.h"
#include "app/opc_server_doc.h"
#include "app/opc_server_view.h"
#include "app/resources/resource.h"
#include "framework/afx_ids.h"
#include "framework/doc_template.h"
#include "runtime_link/ansi_text.h"
#include "runtime_link/project_files.h"

namespace {

// The application with its single document open: the hidden main frame and its view.
class MainFrameTest : public testing::Test {
protected:
    void SetUp() override
    {
        app.m_nCmdShow = SW_HIDE;
        app.AddDocTemplate(
            MakeSingleDocTemplate<COPCServerDoc, CMainFrame, COPCServerView>(IDR_MAINFRAME));
    }
    void TearDown() override
    {
        if (app.m_pMainWnd) app.m_pMainWnd->DestroyWindow();
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    HWND OpenFrame()
    {
        app.OnFileNew();
        return app.m_pMainWnd ? app.m_pMainWnd->m_hWnd : nullptr;
    }

    COPCServerApp app;
};

TEST_F(MainFrameTest, FrameHasItsClassTitleAndStyles)
{
    HWND frame = OpenFrame();
    ASSERT_NE(nullptr, frame);
    char className[64] = "";
    GetClassNameA(frame, className, sizeof className);
    EXPECT_STREQ("Parhelionix OPCServer Class", className);
    char title[64] = "";
    GetWindowTextA(frame, title, sizeof title);
    EXPECT_EQ(AnsiFromWide(L"数据通讯程序"), title);
    EXPECT_EQ(0x00CB0000u, GetWindowLongA(frame, GWL_STYLE) & ~static_cast<DWORD>(WS_CLIPSIBLINGS));
    EXPECT_EQ(0u, GetWindowLongA(frame, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_EQ(0x000Bu, GetClassLongA(frame, GCL_STYLE));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(GetStockObject(GRAY_BRUSH)),
              GetClassLongPtrA(frame, GCLP_HBRBACKGROUND));
}

struct ClampCase {
    int32_t configured;
    int32_t running;
};

class PollTimerClamp : public MainFrameTest, public testing::WithParamInterface<ClampCase> {};

TEST_P(PollTimerClamp, PeriodIsClampedAndStoredBack)
{
    PollPeriod() = GetParam().configured;
    HWND frame = OpenFrame();
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(GetParam().running, PollPeriod());
    EXPECT_TRUE(KillTimer(frame, 2000));
    // The status view repaints on its own timer.
    EXPECT_TRUE(KillTimer(GetDlgItem(frame, AFX_IDW_PANE_FIRST), 101));
}

INSTANTIATE_TEST_SUITE_P(Periods, PollTimerClamp,
                         testing::Values(ClampCase{10, 55}, ClampCase{0, 55}, ClampCase{-1, 55},
                                         ClampCase{55, 55}, ClampCase{1000, 1000},
                                         ClampCase{3600000, 3600000}, ClampCase{5000000, 3600000}));

// What a modal menu or dialog showed before the inspector closed it.
struct SeenPopup {
    std::string windowClass;
    int defaultItem = -1;
    std::vector<UINT> itemIds;
    std::vector<std::wstring> texts;  // menu items, or dialog caption then controls
};
SeenPopup g_seen;

BOOL CALLBACK FindPopup(HWND hwnd, LPARAM found)
{
    char className[16] = "";
    GetClassNameA(hwnd, className, sizeof className);
    std::string name = className;
    if (!IsWindowVisible(hwnd) || (name != "#32768" && name != "#32770")) return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

std::wstring WindowText(HWND hwnd)
{
    wchar_t text[128] = L"";
    GetWindowTextW(hwnd, text, 128);
    return text;
}

BOOL CALLBACK CollectText(HWND hwnd, LPARAM)
{
    g_seen.texts.push_back(WindowText(hwnd));
    return TRUE;
}

// Runs inside the popup's own modal loop: records the popup, then ends it.
void CALLBACK InspectAndDismiss(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND popup = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindPopup, reinterpret_cast<LPARAM>(&popup));
    if (!popup) return;
    KillTimer(nullptr, timer);
    char className[16] = "";
    GetClassNameA(popup, className, sizeof className);
    g_seen.windowClass = className;
    if (g_seen.windowClass == "#32768") {
        auto menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
        g_seen.defaultItem = static_cast<int>(GetMenuDefaultItem(menu, TRUE, 0));
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            wchar_t text[64] = L"";
            GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
            g_seen.itemIds.push_back(GetMenuItemID(menu, i));
            g_seen.texts.push_back(text);
        }
        EndMenu();
    } else {
        g_seen.texts.push_back(WindowText(popup));
        EnumChildWindows(popup, CollectText, 0);
        PostMessageA(popup, WM_COMMAND, IDOK, 0);
    }
}

struct TrayCase {
    const char* name;
    LPARAM mouseMessage;
    LRESULT result;
    const char* popupClass;  // "" when nothing opens
};

class TrayNotification : public MainFrameTest, public testing::WithParamInterface<TrayCase> {};

TEST_P(TrayNotification, OpensTheRightPopupOrNothing)
{
    g_seen = SeenPopup{};
    HWND frame = OpenFrame();
    ASSERT_NE(nullptr, frame);
    UINT_PTR inspector = SetTimer(nullptr, 0, 10, InspectAndDismiss);
    EXPECT_EQ(GetParam().result, SendMessageA(frame, WM_TRAYNOTIFY, 128, GetParam().mouseMessage));
    KillTimer(nullptr, inspector);
    EXPECT_EQ(GetParam().popupClass, g_seen.windowClass);
}

INSTANTIATE_TEST_SUITE_P(MouseMessages, TrayNotification,
                         testing::Values(TrayCase{"RightButtonUp", WM_RBUTTONUP, 1, "#32768"},
                                         TrayCase{"DoubleClick", WM_LBUTTONDBLCLK, 1, "#32770"},
                                         TrayCase{"LeftButtonUp", WM_LBUTTONUP, 0, ""},
                                         TrayCase{"LeftButtonDown", WM_LBUTTONDOWN, 0, ""},
                                         TrayCase{"RightButtonDown", WM_RBUTTONDOWN, 0, ""},
                                         TrayCase{"MouseMove", WM_MOUSEMOVE, 0, ""}),
                         [](const testing::TestParamInfo<TrayCase>& info) {
                             return info.param.name;
                         });

TEST_F(MainFrameTest, TrayMenuOffersAboutAsDefaultThenExit)
{
    g_seen = SeenPopup{};
    HWND frame = OpenFrame();
    ASSERT_NE(nullptr, frame);
    UINT_PTR inspector = SetTimer(nullptr, 0, 10, InspectAndDismiss);
    SendMessageA(frame, WM_TRAYNOTIFY, 128, WM_RBUTTONUP);
    KillTimer(nullptr, inspector);
    EXPECT_EQ(0, g_seen.defaultItem);
    EXPECT_EQ((std::vector<UINT>{ID_APP_ABOUT, 0, ID_APP_EXIT}), g_seen.itemIds);
    EXPECT_EQ((std::vector<std::wstring>{L"关于(&A)...", L"", L"退出(&S)"}), g_seen.texts);
}

TEST_F(MainFrameTest, AboutBoxShowsCaptionVersionAndOk)
{
    g_seen = SeenPopup{};
    HWND frame = OpenFrame();
    ASSERT_NE(nullptr, frame);
    UINT_PTR inspector = SetTimer(nullptr, 0, 10, InspectAndDismiss);
    SendMessageA(frame, WM_COMMAND, ID_APP_ABOUT, 0);
    KillTimer(nullptr, inspector);
    ASSERT_FALSE(g_seen.texts.empty());
    EXPECT_EQ(L"关于 OPCServer", g_seen.texts[0]);
    auto has = [&](const wchar_t* text) {
        return std::find(g_seen.texts.begin(), g_seen.texts.end(), text) != g_seen.texts.end();
    };
    EXPECT_TRUE(has(L"Parhelionix OPC Server V7.11"));
    EXPECT_TRUE(has(L"确定"));
}

TEST_F(MainFrameTest, ExitCommandClosesLikeTheWindow)
{
    HWND frame = OpenFrame();
    ASSERT_NE(nullptr, frame);
    SendMessageA(frame, WM_COMMAND, ID_APP_EXIT, 0);
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

}  // namespace
