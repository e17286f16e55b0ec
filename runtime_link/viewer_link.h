#pragma once
// Whether the Viewer whose shared tag area the mirror follows is running. Once watched, every
// poll cycle looks for the Viewer's main window: when it has gone the area is let go (the tag
// values are no longer current and writes would reach nobody); when it is back the area is
// attached anew and the link restored.
class CMappedMemory;

// The Viewer's main window class; while no window of it exists the Viewer is not running.
constexpr char kViewerWindowClass[] = "Parhelionix Viewer Class";

// Starts watching the Viewer through the holder that attached its area (null: stop watching;
// an unwatched link counts as up).
void WatchViewer(CMappedMemory* holder);
// False from the poll cycle that finds the Viewer gone until one finds it back with its area.
bool ViewerLinked();
// The poll cycle's first step: lets the area go or attaches it again as the Viewer went or came.
void CheckViewerLink();
