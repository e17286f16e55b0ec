#include "runtime_link/mapped_memory.h"

CMappedMemory::~CMappedMemory()
{
    Close();
}

void* CMappedMemory::Open(const char* name)
{
    Close();
    m_mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, TRUE, name);
    if (!m_mapping) return m_view;
    // Length 0 maps the whole object: its size is the Viewer's, not ours to know.
    m_view = MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!m_view) {
        CloseHandle(m_mapping);
        m_mapping = nullptr;
    }
    return m_view;
}

void CMappedMemory::Close()
{
    if (!m_view) return;
    UnmapViewOfFile(m_view);
    m_view = nullptr;
    CloseHandle(m_mapping);
    m_mapping = nullptr;
}

size_t CMappedMemory::ViewSize() const
{
    if (!m_view) return 0;
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(m_view, &info, sizeof info) != sizeof info) return 0;
    return info.RegionSize;
}
