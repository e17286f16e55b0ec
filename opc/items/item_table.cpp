#include "opc/items/item_table.h"

#include "opc/items/item_object.h"

#include <algorithm>

ItemTable::ItemTable()
{
    std::fill(std::begin(m_firstOfTag), std::end(m_firstOfTag), -1);
    std::fill(std::begin(m_tagOfSlot), std::end(m_tagOfSlot), kNoTag);
}

void ItemTable::ListUnderTag(int slot)
{
    const int tag = m_slots[slot].item->TagSlot();
    if (tag < 0 || tag >= kMirrorSlots) return;
    const int32_t head = m_firstOfTag[tag];
    m_nextOfTag[slot] = head;
    m_previousOfTag[slot] = -1;
    if (head >= 0) m_previousOfTag[head] = slot;
    m_firstOfTag[tag] = slot;
    m_tagOfSlot[slot] = tag;
}

void ItemTable::UnlistFromTag(int slot)
{
    const int tag = m_tagOfSlot[slot];
    if (tag == kNoTag) return;
    const int32_t previous = m_previousOfTag[slot];
    const int32_t next = m_nextOfTag[slot];
    if (previous >= 0) {
        m_nextOfTag[previous] = next;
    } else {
        m_firstOfTag[tag] = next;
    }
    if (next >= 0) m_previousOfTag[next] = previous;
    m_tagOfSlot[slot] = kNoTag;
}

void ItemTable::IndexTags(uint32_t generation)
{
    std::fill(std::begin(m_firstOfTag), std::end(m_firstOfTag), -1);
    std::fill(std::begin(m_tagOfSlot), std::end(m_tagOfSlot), kNoTag);
    for (int slot = 0; slot < kItemSlots; ++slot) {
        if (m_slots[slot].inUse) ListUnderTag(slot);
    }
    m_tagIndexGeneration = generation;
}

int ItemTable::LowestFreeSlot()
{
    while (m_searchFrom < kItemSlots && m_slots[m_searchFrom].inUse) ++m_searchFrom;
    return m_searchFrom < kItemSlots ? m_searchFrom : -1;
}

void ItemTable::Place(int slot, ItemObject* item)
{
    m_slots[slot] = Slot{TRUE, item};
    ListUnderTag(slot);
    item->SetTable(this);
    NoteEdit();
}

ItemObject* ItemTable::Find(OPCHANDLE handle) const
{
    if (handle >= static_cast<OPCHANDLE>(kItemSlots) || !m_slots[handle].inUse) return nullptr;
    return m_slots[handle].item;
}

void ItemTable::Remove(OPCHANDLE handle)
{
    ItemObject* item = Find(handle);
    if (!item) return;
    // The slot is free before the item goes, so that nothing finds a dying item.
    UnlistFromTag(static_cast<int>(handle));
    m_slots[handle] = Slot{FALSE, nullptr};
    item->SetTable(nullptr);
    NoteEdit();
    if (static_cast<int>(handle) < m_searchFrom) m_searchFrom = static_cast<int>(handle);
    // Every way an item goes (RemoveItems, its group removed or released, its client's server
    // object released or reclaimed) comes here: a write answered S_OK goes to its tag now, as
    // the group's next update pass would have sent it.
    item->PostPendingWrite();
    item->Release();
}

void ItemTable::RemoveAll()
{
    for (int slot = 0; slot < kItemSlots; ++slot) Remove(static_cast<OPCHANDLE>(slot));
}
