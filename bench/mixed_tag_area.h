#pragma once
// A shared tag area of 10000 tags as a project usually mixes them, for the benchmarks.
#include <cstdio>

#include "runtime_link/tag_record.h"

constexpr int kMixedTags = 10000;

// A quarter each of discrete, integer, real and string tags, named TAG00000 ...
inline void FillMixedTagArea(TagRecord* records)
{
    for (int i = 0; i < kMixedTags; ++i) {
        TagRecord& r = records[i];
        std::snprintf(r.name, sizeof r.name, "TAG%05d", i);
        r.typeCode = i % 4;
        r.discreteValue = i & 1;
        r.integerValue = i;
        r.realValue = float(i) / 3;
        std::snprintf(r.stringValue, sizeof r.stringValue, "value of tag %d", i);
    }
}
