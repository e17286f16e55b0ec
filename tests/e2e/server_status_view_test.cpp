#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/app/test_project.h"
#include "tests/app/tray_probe.h"
#include "tests/e2e/server_process.h"
#include "tests/e2e/window_capture.h"

namespace {

// A configuration whose poll period is the shortest the server runs at.
std::string ConfigurationPolling(int32_t periodMs)
{
    std::string bytes(kHeaderMagic, sizeof kHeaderMagic);
    bytes.resize(304, '\0');
    std::memcpy(&bytes[268], &periodMs, sizeof periodMs);
    return bytes;
}

TEST(RunningServerStatusView, ShowsTheValueThePollCycleBrings)
{
    TestProject project(1);
    WriteBytes(project.ProjectDirectory() + "PXVIEWER.CFG", ConfigurationPolling(55));
    ViewerStandIn viewer(17);
    TagRecord& counter = viewer.Records()[0];
    counter.typeCode = 1;
    std::strcpy(counter.name, "Counter");
    counter.integerValue = 1;

    ServerProcess server(project.SystemDirectory());
    HWND window = server.WaitForWindow("Parhelionix OPCServer Class");
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(WaitUntil([&] { return TrayIconPresent(window); }));
    // The frame stays hidden unless someone shows it: then the view draws the tag mirror.
    ShowWindow(window, SW_SHOWNOACTIVATE);
    const WindowImage before = SteadyClientArea(window, 30000);
    ASSERT_TRUE(before.HasDrawing());

    counter.integerValue = 987654321;
    EXPECT_TRUE(WaitUntil([&] { return CaptureClientArea(window) != before; }));

    // And back: the same value draws the same picture.
    counter.integerValue = 1;
    EXPECT_TRUE(WaitUntil([&] { return CaptureClientArea(window) == before; }));

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, server.WaitForExit());
}

}  // namespace
