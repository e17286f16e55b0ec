#include "framework/win_app.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/afx_ids.h"
#include "framework/command_line_info.h"
#include "framework/doc_template.h"
#include "framework/document.h"
#include "framework/frame_wnd.h"
#include "framework/view.h"

namespace {

std::vector<std::string> g_events;
int g_documentsAlive = 0;

class TestDoc : public CDocument {
public:
    TestDoc() { ++g_documentsAlive; }
    ~TestDoc() override { --g_documentsAlive; }
    BOOL OnNewDocument() override
    {
        g_events.push_back("new document");
        return TRUE;
    }
};

class TestView : public CView {
public:
    void OnInitialUpdate() override
    {
        g_events.push_back("initial update");
        CView::OnInitialUpdate();
    }
    void OnDraw(CDC*) override {}
};

constexpr UINT_PTR kCloseTimer = 7;

class TestFrame : public CFrameWnd {
protected:
    int OnCreate(CREATESTRUCTA* cs) override
    {
        g_events.push_back("frame create");
        return CFrameWnd::OnCreate(cs);
    }
    void OnTimer(UINT_PTR id) override
    {
        KillTimer(id);
        PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    }
    void OnDestroy() override
    {
        g_events.push_back("frame destroy");
        CFrameWnd::OnDestroy();
    }
};

enum class Start { NoWindow, FailAfterFrame, RunUntilClosed };

class TestApp : public CWinApp {
public:
    explicit TestApp(Start start) : m_start(start) { m_nCmdShow = SW_HIDE; }

    BOOL InitInstance() override
    {
        g_events.push_back("init");
        if (m_start == Start::NoWindow) return TRUE;
        AddDocTemplate(MakeSingleDocTemplate<TestDoc, TestFrame, TestView>(1));
        CCommandLineInfo commandLine;
        if (!ProcessShellCommand(commandLine)) return FALSE;
        if (m_start == Start::FailAfterFrame) return FALSE;
        ::SetTimer(m_pMainWnd->m_hWnd, kCloseTimer, 1, nullptr);
        return TRUE;
    }
    int ExitInstance() override
    {
        g_events.push_back("exit");
        return CWinApp::ExitInstance();
    }

private:
    Start m_start;
};

class WinAppTest : public testing::Test {
protected:
    void SetUp() override { g_events.clear(); }
};

TEST_F(WinAppTest, InitWithoutMainWindowEndsAtOnce)
{
    TestApp app(Start::NoWindow);
    EXPECT_EQ(0, app.RunApplication());
    EXPECT_EQ((std::vector<std::string>{"init", "exit"}), g_events);
}

TEST_F(WinAppTest, FailedInitDestroysTheMainWindowAndStillExits)
{
    TestApp app(Start::FailAfterFrame);
    EXPECT_EQ(0, app.RunApplication());
    EXPECT_EQ((std::vector<std::string>{"init", "frame create", "new document", "initial update",
                                        "frame destroy", "exit"}),
              g_events);
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    MSG stray;
    EXPECT_FALSE(PeekMessageA(&stray, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(WinAppTest, ClosingTheMainFrameEndsTheLoopAndTheDocument)
{
    TestApp app(Start::RunUntilClosed);
    EXPECT_EQ(0, app.RunApplication());
    EXPECT_EQ((std::vector<std::string>{"init", "frame create", "new document", "initial update",
                                        "frame destroy", "exit"}),
              g_events);
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    EXPECT_EQ(0, g_documentsAlive);
}

TEST_F(WinAppTest, FrameJoinsViewAndRoutesCommandsToTheApplication)
{
    TestApp app(Start::RunUntilClosed);
    ASSERT_TRUE(app.InitInstance());
    HWND frame = app.m_pMainWnd->m_hWnd;
    HWND view = GetDlgItem(frame, AFX_IDW_PANE_FIRST);
    ASSERT_NE(nullptr, view);
    auto* testView = dynamic_cast<TestView*>(CWnd::FromHandle(view));
    ASSERT_NE(nullptr, testView);
    EXPECT_NE(nullptr, dynamic_cast<TestDoc*>(testView->GetDocument()));

    g_events.clear();
    SendMessageA(frame, WM_COMMAND, ID_FILE_NEW, 0);  // the single document is reused
    EXPECT_EQ((std::vector<std::string>{"new document"}), g_events);
    EXPECT_EQ(1, g_documentsAlive);

    DestroyWindow(frame);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(WinAppTest, OpeningAMissingDocumentMakesNoMainWindow)
{
    TestApp app(Start::NoWindow);
    app.AddDocTemplate(MakeSingleDocTemplate<TestDoc, TestFrame, TestView>(1));
    CCommandLineInfo commandLine;
    commandLine.ParseParam("c:\\no\\such.opc", false, true);
    EXPECT_FALSE(app.ProcessShellCommand(commandLine));
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    EXPECT_EQ(0, g_documentsAlive);
    MSG stray;
    EXPECT_FALSE(PeekMessageA(&stray, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

}  // namespace
