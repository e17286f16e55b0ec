#include "opc/items/item_table.h"

#include "opc/items/item_object.h"

int ItemTable::LowestFreeSlot() const
{
    for (int slot = 0; slot < kItemSlots; ++slot) {
        if (!m_slots[slot].inUse) return slot;
    }
    return -1;
}

void ItemTable::Place(int slot, ItemObject* item)
{
    m_slots[slot] = Slot{TRUE, item};
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
    item->Release();
}

void ItemTable::RemoveAll()
{
    for (int slot = 0; slot < kItemSlots; ++slot) Remove(static_cast<OPCHANDLE>(slot));
}
