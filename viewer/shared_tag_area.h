#pragma once
#include <windows.h>

#include <string>

#include "runtime_link/tag_record.h"
#include "viewer/win_handles.h"

// The Viewer's side of "Parhelionix Share Memory": creates the mapping on the paging file and
// keeps one view of it until destroyed.
class SharedTagArea {
public:
    // Creates (or, when a server still holds the previous Viewer's one, reuses) the mapping for
    // recordCount records; false with error when it cannot, or the mapping left over is smaller.
    bool Create(int recordCount, std::string& error);
    TagRecord* Records() const { return static_cast<TagRecord*>(m_view.get()); }

private:
    UniqueHandle m_mapping;
    UniqueView m_view;
};
