#include "opc/items/item_table.h"

#include "opc/items/item_object.h"

int ItemTable::LowestFreeSlot()
{
    while (m_searchFrom < kItemSlots && m_slots[m_searchFrom].inUse) ++m_searchFrom;
    return m_searchFrom < kItemSlots ? m_searchFrom : -1;
}

void ItemTable::Place(int slot, ItemObject* item)
{
    m_slots[slot] = Slot{TRUE, item};
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
    m_slots[handle] = Slot{FALSE, nullptr};
    item->SetTable(nullptr);
    NoteEdit();
    if (static_cast<int>(handle) < m_searchFrom) m_searchFrom = static_cast<int>(handle);
    item->Release();
}

void ItemTable::RemoveAll()
{
    for (int slot = 0; slot < kItemSlots; ++slot) Remove(static_cast<OPCHANDLE>(slot));
}
