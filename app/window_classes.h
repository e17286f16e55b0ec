#pragma once

// The main window's class: a window of this class marks a running server.
constexpr char kServerWindowClass[] = "Parhelionix OPCServer Class";
// The Viewer's main window class; while none exists the Viewer is not running.
constexpr char kViewerWindowClass[] = "Parhelionix Viewer Class";
