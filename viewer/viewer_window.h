#pragma once

// The class of the Viewer's top-level window: how the server, the tools and the tests find a
// running Viewer and close it (WM_CLOSE).
constexpr char kViewerWindowClass[] = "Parhelionix Viewer Class";
