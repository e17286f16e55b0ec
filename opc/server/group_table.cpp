#include "opc/server/group_table.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "opc/group/group_object.h"
#include "opc/server/server_capacity.h"

size_t GroupTable::SlotsServed() const
{
    return std::min(m_slots.size(),
                    static_cast<size_t>(CurrentServerCapacity().maxGroupsPerClient));
}

int GroupTable::LowestFreeSlot()
{
    for (size_t slot = 0; slot < SlotsServed(); ++slot) {
        if (!m_slots[slot].inUse) return static_cast<int>(slot);
    }
    if (Full()) return -1;
    try {
        m_slots.push_back(Slot{});
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return static_cast<int>(m_slots.size() - 1);
}

bool GroupTable::Full() const
{
    for (size_t slot = 0; slot < SlotsServed(); ++slot) {
        if (!m_slots[slot].inUse) return false;
    }
    return m_slots.size() >= static_cast<size_t>(CurrentServerCapacity().maxGroupsPerClient);
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
    TrimFreeEnd();
    group->LeaveUpdatePasses();
    group->Release();
}

void GroupTable::RemoveAll()
{
    // Every slot is free before the first group goes, for the same reason.
    std::vector<Slot> slots;
    slots.swap(m_slots);
    for (const Slot& slot : slots) {
        if (!slot.inUse) continue;
        slot.group->LeaveUpdatePasses();
        slot.group->Release();
    }
}

void GroupTable::TrimFreeEnd()
{
    while (!m_slots.empty() && !m_slots.back().inUse) m_slots.pop_back();
}

int GroupTable::FindByServerHandle(OPCHANDLE serverHandle) const
{
    for (size_t slot = 0; slot < m_slots.size(); ++slot) {
        if (m_slots[slot].inUse && m_slots[slot].group->state.serverHandle == serverHandle) {
            return static_cast<int>(slot);
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

HRESULT GroupTable::List(OPCENUMSCOPE scope, GroupList& list) const
{
    list.clear();
    if (scope < OPC_ENUM_PRIVATE_CONNECTIONS || scope > OPC_ENUM_ALL) return S_OK;
    try {
        list.reserve(Count());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (const Slot& slot : m_slots) {
        if (slot.inUse) list.push_back(slot.group);
    }
    return S_OK;
}

void GroupTable::RunUpdatePasses(int32_t pollPeriodMs, const FILETIME& cycleTime)
{
    for (size_t index = 0; index < m_slots.size(); ++index) {
        const Slot slot = m_slots[index];
        if (!slot.inUse) continue;
        // A client called back during the pass may remove the group; it lives to the end.
        GroupObject* group = slot.group;
        group->AddRef();
        group->RunUpdatePass(pollPeriodMs, cycleTime);
        group->Release();
    }
}
