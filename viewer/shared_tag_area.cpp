#include "viewer/shared_tag_area.h"

bool SharedTagArea::Create(int recordCount, std::string& error)
{
    const DWORD size = DWORD(recordCount) * sizeof(TagRecord);
    m_mapping.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size,
                                       kSharedTagAreaName));
    if (!m_mapping) {
        error = "cannot create the shared tag area (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    m_view.reset(MapViewOfFile(m_mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!m_view) {
        error = "cannot map the shared tag area (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(m_view.get(), &region, sizeof region) != sizeof region ||
        region.RegionSize < size) {
        error = "the shared tag area left by an earlier Viewer is too small for " +
                std::to_string(recordCount) + " tag records";
        return false;
    }
    return true;
}
