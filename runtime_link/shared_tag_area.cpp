#include "runtime_link/shared_tag_area.h"

#include <algorithm>
#include <climits>

#include "runtime_link/mapped_memory.h"

TagRecord* g_sharedTagArea = nullptr;
int g_sharedTagRecordCapacity = 0;

void AttachSharedTagArea(CMappedMemory& holder)
{
    void* view = holder.Open(kSharedTagAreaName);
    if (!view) return;
    g_sharedTagArea = static_cast<TagRecord*>(view);
    g_sharedTagRecordCapacity =
        static_cast<int>(std::min<size_t>(holder.ViewSize() / sizeof(TagRecord), INT_MAX));
}

void DetachSharedTagArea(CMappedMemory& holder)
{
    holder.Close();
    g_sharedTagArea = nullptr;
    g_sharedTagRecordCapacity = 0;
}
