#include "runtime_link/viewer_link.h"

#include <windows.h>

#include "diagnostics/support_trace.h"
#include "runtime_link/shared_tag_area.h"

namespace {

CMappedMemory* g_viewerHolder = nullptr;
bool g_viewerLinked = true;

}  // namespace

void WatchViewer(CMappedMemory* holder)
{
    g_viewerHolder = holder;
    g_viewerLinked = !holder || g_sharedTagArea != nullptr;
}

bool ViewerLinked()
{
    return g_viewerLinked;
}

void CheckViewerLink()
{
    if (!g_viewerHolder) return;
    const bool running = FindWindowA(kViewerWindowClass, nullptr) != nullptr;
    if (g_viewerLinked && !running) {
        // Holding the old view would keep the area's name alive for a new Viewer to reuse.
        DetachSharedTagArea(*g_viewerHolder);
        g_viewerLinked = false;
        SUPPORT_TRACE(TraceClient{}, S_OK, "viewer lost: its window is gone, shared area let go");
    } else if (!g_viewerLinked && running) {
        // A Viewer just started may not have made its area yet: then the next cycle tries again.
        AttachSharedTagArea(*g_viewerHolder);
        g_viewerLinked = g_sharedTagArea != nullptr;
        SUPPORT_TRACE(TraceClient{}, g_viewerLinked ? S_OK : S_FALSE,
                      g_viewerLinked ? "viewer attached" : "viewer window back, shared area not yet");
    }
}
