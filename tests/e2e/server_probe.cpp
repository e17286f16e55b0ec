// server_probe.exe: looks at a running OPCServer.exe from outside, for the demo.
//   server_probe.exe status             the server's window, its visibility and tray icon,
//                                       once start-up has added the icon
//   server_probe.exe snapshot OUT.bmp   shows the hidden main window for a moment, saves its
//                                       status view (every tag as the last poll cycle left
//                                       it) and hides the window again
//   server_probe.exe close              ends the server as its tray menu's Exit does
// Each waits up to --wait MS (default 10000) for the server's window.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/app/tray_probe.h"
#include "tests/e2e/server_process.h"
#include "tests/e2e/window_capture.h"

namespace {

constexpr char kUsage[] = "usage: server_probe.exe status|snapshot OUT.bmp|close [--wait MS]\n";
constexpr UINT kAppExit = 0xE141;

HWND FindServer(DWORD waitMs)
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindWindowA("Parhelionix OPCServer Class", nullptr)); },
              waitMs);
    return window;
}

int Status(HWND window, DWORD waitMs)
{
    // The window exists from the middle of start-up; the tray icon comes last.
    WaitUntil([&] { return TrayIconPresent(window); }, waitMs);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    std::printf("OPCServer runs (process %lu): main window %s, tray icon %s\n", processId,
                IsWindowVisible(window) ? "visible" : "hidden",
                TrayIconPresent(window) ? "present" : "absent");
    return 0;
}

int Snapshot(HWND window, const char* path, DWORD waitMs)
{
    ShowWindow(window, SW_SHOWNOACTIVATE);
    // The view repaints every 200 ms.
    const WindowImage image = SteadyClientArea(window, waitMs);
    ShowWindow(window, SW_HIDE);
    if (!image.HasDrawing() || !WriteBitmapFile(image, path)) {
        std::fprintf(stderr, "the status view could not be captured\n");
        return 1;
    }
    std::printf("status view saved: %s (%d x %d)\n", path, image.width, image.height);
    return 0;
}

int Close(HWND window, DWORD waitMs)
{
    PostMessageA(window, WM_COMMAND, kAppExit, 0);
    if (!WaitUntil([&] { return !IsWindow(window); }, waitMs)) {
        std::fprintf(stderr, "OPCServer did not close\n");
        return 1;
    }
    std::printf("OPCServer closed its main window\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    const int operands = command == "snapshot" ? 1 : 0;
    DWORD waitMs = 10000;
    const int options = argc - 2 - operands;
    if ((command != "status" && command != "snapshot" && command != "close") || options < 0 ||
        (options != 0 && (options != 2 || std::string(argv[2 + operands]) != "--wait"))) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options == 2) waitMs = static_cast<DWORD>(std::strtoul(argv[3 + operands], nullptr, 10));

    HWND window = FindServer(waitMs);
    if (!window) {
        std::fprintf(stderr, "no running OPCServer found\n");
        return 1;
    }
    if (command == "status") return Status(window, waitMs);
    if (command == "snapshot") return Snapshot(window, argv[2], waitMs);
    return Close(window, waitMs);
}
