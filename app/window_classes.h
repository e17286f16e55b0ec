#pragma once

// The main window's class: a window of this class marks a running server.
constexpr char kServerWindowClass[] = "Parhelionix OPCServer Class";
