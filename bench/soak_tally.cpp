#include "bench/soak_tally.h"

SoakShared::SoakShared(DWORD coordinatorId, bool create)
{
    const std::string name = "ParhelionixSoak" + std::to_string(coordinatorId);
    const std::string stopName = name + "Stop";
    if (create) {
        m_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       sizeof(SoakTally), name.c_str());
        m_stop = CreateEventA(nullptr, TRUE, FALSE, stopName.c_str());
    } else {
        m_mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
        m_stop = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, stopName.c_str());
    }
    if (m_mapping) {
        m_tally = static_cast<SoakTally*>(
            MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SoakTally)));
    }
}

SoakShared::~SoakShared()
{
    if (m_tally) UnmapViewOfFile(m_tally);
    if (m_mapping) CloseHandle(m_mapping);
    if (m_stop) CloseHandle(m_stop);
}
