// While it lives the Viewer counts as gone: the link is watched through a holder with no area.
#pragma once

#include "runtime_link/mapped_memory.h"
#include "runtime_link/viewer_link.h"

class ViewerGone {
public:
    ViewerGone() { WatchViewer(&m_holder); }
    ~ViewerGone() { WatchViewer(nullptr); }
    ViewerGone(const ViewerGone&) = delete;
    ViewerGone& operator=(const ViewerGone&) = delete;

private:
    CMappedMemory m_holder;
};
