#pragma once
#include <windows.h>

#include <cstdint>

#include "opc_da.h"
#include "runtime_link/tag_mirror.h"

class ItemObject;

constexpr int kItemSlots = 10000;

// A group's items: 10000 slots, the slot number being the item's server handle. The table holds
// one reference to the item in each used slot. Every pass runs in ascending slot order.
class ItemTable {
public:
    ItemTable();
    ~ItemTable() { RemoveAll(); }
    ItemTable(const ItemTable&) = delete;
    ItemTable& operator=(const ItemTable&) = delete;

    // The lowest free slot, or -1 when every slot is used.
    int LowestFreeSlot();
    // Puts `item` into the free `slot`; the table keeps the reference the caller took for it.
    void Place(int slot, ItemObject* item);
    // The item of a valid handle (below 10000 and its slot used), else null.
    ItemObject* Find(OPCHANDLE handle) const;
    // Posts the pending write of the item of a valid handle (ItemObject::PostPendingWrite),
    // releases the item and frees its slot.
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

    // The items whose tag is in mirror slot `tag`, as the items had looked their tags up when
    // the index was made (TagIndexGeneration) or they were added: a pass that knows which tags
    // changed refreshes only their items.
    template <class Visit>
    void ForEachOfTag(int tag, Visit visit) const
    {
        for (int slot = m_firstOfTag[tag]; slot >= 0; slot = m_nextOfTag[slot]) {
            visit(*m_slots[slot].item);
        }
    }
    // The tag the item in `slot` is listed under; kNoTag when none.
    int IndexedTag(OPCHANDLE slot) const { return m_tagOfSlot[slot]; }
    // The mirror generation (TagMirrorGeneration) the index was made for; 0 before.
    uint32_t TagIndexGeneration() const { return m_tagIndexGeneration; }
    // Indexes every item by the tag it found in the mirror of `generation`.
    void IndexTags(uint32_t generation);

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
    // Lists of slots by tag, linked both ways (a slot leaves its list in one step, however many
    // items share the tag); -1 ends a list. m_tagOfSlot is the tag under which a slot is
    // listed, or kNoTag.
    int32_t m_firstOfTag[kMirrorSlots];
    int32_t m_nextOfTag[kItemSlots];
    int32_t m_previousOfTag[kItemSlots];
    int32_t m_tagOfSlot[kItemSlots];
    uint32_t m_tagIndexGeneration = 0;

    void ListUnderTag(int slot);
    void UnlistFromTag(int slot);
};
