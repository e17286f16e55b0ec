#pragma once
// A shared tag area of 10000 tags as a project usually mixes them, attached and mirrored as
// the server does at start-up, for the benchmarks; released again when it goes.
#include <windows.h>

#include <cstdio>

#include "runtime_link/mapped_memory.h"
#include "runtime_link/project_files.h"
#include "runtime_link/shared_tag_area.h"
#include "runtime_link/tag_mirror.h"

constexpr int kMixedTags = 10000;

class MixedTagArea {
public:
    // A quarter each of discrete, integer, real and string tags, named TAG00000 ..., poll
    // period 1000 ms.
    MixedTagArea()
        : m_area(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                    kMixedTags * sizeof(TagRecord), kSharedTagAreaName))
    {
        AttachSharedTagArea(m_holder);
        if (!m_area || !g_sharedTagArea) return;
        for (int i = 0; i < kMixedTags; ++i) {
            TagRecord& r = g_sharedTagArea[i];
            std::snprintf(r.name, sizeof r.name, "TAG%05d", i);
            r.typeCode = i % 4;
            r.discreteValue = i & 1;
            r.integerValue = i;
            r.realValue = float(i) / 3;
            std::snprintf(r.stringValue, sizeof r.stringValue, "value of tag %d", i);
        }
        g_tagCount = kMixedTags;
        PollPeriod() = 1000;
        BuildTagMirror();
        m_ready = true;
    }
    ~MixedTagArea()
    {
        ReleaseTagMirror();
        m_holder.Close();
        if (m_area) CloseHandle(m_area);
    }
    MixedTagArea(const MixedTagArea&) = delete;
    MixedTagArea& operator=(const MixedTagArea&) = delete;

    // False when the area could not be made.
    bool Ready() const { return m_ready; }

private:
    HANDLE m_area;
    CMappedMemory m_holder;
    bool m_ready = false;
};
