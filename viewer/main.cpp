// PXViewer.exe: a stand-in for the package's Viewer, the runtime that owns the tag values.
// It is no part of the OPC server; it gives the server what it needs of a running Viewer:
// a top-level window of class "Parhelionix Viewer Class" and the shared tag area
// "Parhelionix Share Memory" filled from the project's TAGNAME.DB. It changes values on a
// timer, takes the write requests the server posts and appends each to a log. It ends on
// WM_CLOSE.
//
// Exit codes: 0 closed, 1 bad arguments, 2 project or tag database refused, 3 another Viewer
// runs or the window or shared tag area cannot be made, 4 the log cannot be opened.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "viewer/project_location.h"
#include "viewer/request_log.h"
#include "viewer/shared_tag_area.h"
#include "viewer/tag_database.h"
#include "viewer/tag_simulator.h"
#include "viewer/viewer_options.h"
#include "viewer/viewer_window.h"

namespace {

constexpr char kDefaultLogName[] = "PXVIEWER.LOG";
constexpr UINT_PTR kStepTimer = 1;

struct ViewerSession {
    TagSimulator simulator;
    SharedTagArea area;
    RequestLog log;
};

int Fail(int code, const std::string& message)
{
    std::fprintf(stderr, "PXViewer: %s\n", message.c_str());
    return code;
}

LRESULT CALLBACK ViewerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
    }
    auto* session = reinterpret_cast<ViewerSession*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_TIMER:
        if (wParam == kStepTimer && session) {
            // Requests first, so that a client's value is held before the step could move it.
            for (const TakenWriteRequest& request :
                 session->simulator.TakeWriteRequests(session->area.Records()))
                session->log.Append(request);
            SYSTEMTIME now;
            GetLocalTime(&now);
            session->simulator.Step(session->area.Records(), now);
        }
        return 0;
    case WM_CLOSE:
        // Ends the loop and leaves the window to the process's end: under Wine without a
        // window manager (Xvfb) destroying a shown top-level window waits 2 s for the manager.
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int StartupShowCommand()
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWMINIMIZED;
}

}  // namespace

int main(int argc, char** argv)
{
    ViewerOptions options;
    std::string error;
    if (!ParseViewerOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fputs(kViewerUsage, stderr);
        return Fail(1, error);
    }
    if (FindWindowA(kViewerWindowClass, nullptr)) return Fail(3, "another Viewer is running");

    const ProjectLocation project = FindProject(options.systemDirectory);
    if (!project.ok) return Fail(2, project.message);
    TagDatabaseRead database = ReadTagDatabase(project.projectDirectory + kTagDatabaseFileName);
    if (!database.ok) return Fail(2, database.message);
    if (!database.message.empty()) std::fprintf(stderr, "PXViewer: %s\n", database.message.c_str());

    ViewerSession session{TagSimulator(std::move(database.tags)), {}, {}};
    const std::string logPath =
        options.logPath.empty() ? project.projectDirectory + kDefaultLogName : options.logPath;
    if (!session.log.Open(logPath, error)) return Fail(4, error);
    if (!session.area.Create(session.simulator.RecordCount(), error)) return Fail(3, error);
    session.simulator.Fill(session.area.Records());

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ViewerWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = HBRUSH(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kViewerWindowClass;
    if (!RegisterClassA(&windowClass)) return Fail(3, "cannot register the window class");
    HWND window = CreateWindowA(kViewerWindowClass, "Parhelionix Viewer (stand-in)",
                                WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400, 200,
                                nullptr, nullptr, windowClass.hInstance, &session);
    if (!window) return Fail(3, "cannot create the Viewer window");
    ShowWindow(window, StartupShowCommand());
    SetTimer(window, kStepTimer, UINT(options.rateMs), nullptr);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // The window outlives the session (see WM_CLOSE): it must no longer reach it.
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    return 0;
}
