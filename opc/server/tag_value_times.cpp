#include "opc/server/tag_value_times.h"

#include <new>

#include "opc/group/group_object.h"
#include "opc/items/item_object.h"
#include "opc/server/group_table.h"
#include "opc/values/item_value.h"

bool TagValueTimes::Collect(const GroupTable& groups)
{
    m_callTime = CurrentUtcTime();
    try {
        const GroupList list = groups.List(OPC_ENUM_ALL);
        for (ULONG i = 0; i < list.count; ++i) {
            list.groups[i]->Items().ForEach([&](const ItemObject& item) {
                if (item.TagSlot() == kNoTag) return;
                const auto [newest, first] = m_newest.emplace(item.TagSlot(), item.Timestamp());
                if (!first && CompareFileTime(&item.Timestamp(), &newest->second) > 0)
                    newest->second = item.Timestamp();
            });
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

FILETIME TagValueTimes::Of(int slot) const
{
    const auto found = m_newest.find(slot);
    return found == m_newest.end() ? m_callTime : found->second;
}
