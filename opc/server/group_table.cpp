#include "opc/server/group_table.h"

#include <cwchar>

#include "opc/group/group_object.h"

int GroupTable::LowestFreeSlot() const
{
    for (int slot = 0; slot < kGroupSlots; ++slot) {
        if (!m_slots[slot].inUse) return slot;
    }
    return -1;
}

void GroupTable::Place(int slot, GroupObject* group)
{
    m_slots[slot].group = group;
    m_slots[slot].inUse = 1;
}

void GroupTable::Remove(int slot)
{
    // The slot is free before the group goes: its destruction releases the client's sinks, and
    // the client may enumerate or remove groups from within those calls.
    GroupObject* group = m_slots[slot].group;
    m_slots[slot] = Slot{};
    group->LeaveUpdatePasses();
    group->Release();
}

void GroupTable::RemoveAll()
{
    // Every slot is free before the first group goes, for the same reason.
    GroupObject* groups[kGroupSlots];
    int count = 0;
    for (Slot& slot : m_slots) {
        if (slot.inUse) groups[count++] = slot.group;
        slot = Slot{};
    }
    for (int i = 0; i < count; ++i) {
        groups[i]->LeaveUpdatePasses();
        groups[i]->Release();
    }
}

int GroupTable::FindByServerHandle(OPCHANDLE serverHandle) const
{
    for (int slot = 0; slot < kGroupSlots; ++slot) {
        if (m_slots[slot].inUse && m_slots[slot].group->state.serverHandle == serverHandle) {
            return slot;
        }
    }
    return -1;
}

GroupObject* GroupTable::FindByName(const wchar_t* name) const
{
    for (const Slot& slot : m_slots) {
        if (!slot.inUse) continue;
        const wchar_t* groupName = slot.group->state.name.get();
        if (groupName && std::wcscmp(groupName, name) == 0) return slot.group;
    }
    return nullptr;
}

DWORD GroupTable::Count() const
{
    DWORD count = 0;
    for (const Slot& slot : m_slots) {
        if (slot.inUse) ++count;
    }
    return count;
}

GroupList GroupTable::List(OPCENUMSCOPE scope) const
{
    GroupList list = {};
    if (scope < OPC_ENUM_PRIVATE_CONNECTIONS || scope > OPC_ENUM_ALL) return list;
    for (const Slot& slot : m_slots) {
        if (slot.inUse) list.groups[list.count++] = slot.group;
    }
    return list;
}

void GroupTable::RunUpdatePasses(int32_t pollPeriodMs, const FILETIME& cycleTime)
{
    for (const Slot& slot : m_slots) {
        if (!slot.inUse) continue;
        // A client called back during the pass may remove the group; it lives to the end.
        GroupObject* group = slot.group;
        group->AddRef();
        group->RunUpdatePass(pollPeriodMs, cycleTime);
        group->Release();
    }
}
