#pragma once
#include <windows.h>

#include <cstdint>

#include "opc_da.h"

class ItemObject;

constexpr int kItemSlots = 10000;

// A group's items: 10000 slots, the slot number being the item's server handle. The table holds
// one reference to the item in each used slot. Every pass runs in ascending slot order.
class ItemTable {
public:
    ItemTable() = default;
    ~ItemTable() { RemoveAll(); }
    ItemTable(const ItemTable&) = delete;
    ItemTable& operator=(const ItemTable&) = delete;

    // The lowest free slot, or -1 when every slot is used.
    int LowestFreeSlot();
    // Puts `item` into the free `slot`; the table keeps the reference the caller took for it.
    void Place(int slot, ItemObject* item);
    // The item of a valid handle (below 10000 and its slot used), else null.
    ItemObject* Find(OPCHANDLE handle) const;
    // Releases the item of a valid handle and frees its slot.
    void Remove(OPCHANDLE handle);
    void RemoveAll();
    // Moves with every change a client makes to the table or its items (ItemObject), never
    // with an update pass's refresh.
    uint32_t Edits() const { return m_edits; }
    void NoteEdit() { ++m_edits; }

    template <class Visit>
    void ForEach(Visit visit) const
    {
        for (const Slot& slot : m_slots) {
            if (slot.inUse) visit(*slot.item);
        }
    }

private:
    struct Slot {
        BOOL inUse;
        ItemObject* item;
    };
    Slot m_slots[kItemSlots] = {};
    // Every slot below it is in use: the search for a free slot starts here, so that adding n
    // items one after another costs n steps instead of n * n / 2.
    int m_searchFrom = 0;
    uint32_t m_edits = 0;
};
