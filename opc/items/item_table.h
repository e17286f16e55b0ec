#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "opc_da.h"
#include "runtime_link/tag_mirror.h"

class ItemObject;

constexpr int kItemSlots = 10000;

// A group's items: up to 10000 slots, the slot number being the item's server handle. Only the
// slots up to the highest used one are kept, so that a group costs memory by the items it holds,
// not by its limit. The table holds one reference to the item in each used slot. Every pass runs
// in ascending slot order.
class ItemTable {
public:
    ItemTable() = default;
    ~ItemTable() { RemoveAll(); }
    ItemTable(const ItemTable&) = delete;
    ItemTable& operator=(const ItemTable&) = delete;

    // The lowest free slot, with the room to place an item there made; -1 when every slot is
    // used or the room cannot be made.
    int LowestFreeSlot();
    // Puts `item` into the free `slot`; the table keeps the reference the caller took for it.
    // False, the caller keeping its reference, when no room can be made for the slot; never at
    // the slot LowestFreeSlot has just answered.
    bool Place(int slot, ItemObject* item);
    // The item of a valid handle (below 10000 and its slot used), else null.
    ItemObject* Find(OPCHANDLE handle) const
    {
        return handle < m_slots.size() ? m_slots[handle].item : nullptr;
    }
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
        // By index: a visit may add or remove items, and the slots move as the table grows.
        for (size_t slot = 0; slot < m_slots.size(); ++slot) {
            if (ItemObject* item = m_slots[slot].item) visit(*item);
        }
    }

    // The items whose tag is in mirror slot `tag`, as the items had looked their tags up when
    // the index was made (TagIndexGeneration) or they were added: a pass that knows which tags
    // changed refreshes only their items.
    template <class Visit>
    void ForEachOfTag(int tag, Visit visit) const
    {
        for (int32_t slot = FirstOfTag(tag); slot >= 0;) {
            const Slot& listed = m_slots[static_cast<size_t>(slot)];
            slot = listed.nextOfTag;
            visit(*listed.item);
        }
    }
    // The tag the item in `slot` is listed under; kNoTag when none.
    int IndexedTag(OPCHANDLE slot) const { return m_slots[slot].tag; }
    // The mirror generation (TagMirrorGeneration) the index was made for; 0 before, and while
    // memory was short for listing every item.
    uint32_t TagIndexGeneration() const { return m_tagIndexGeneration; }
    // Indexes every item by the tag it found in the mirror of `generation`.
    void IndexTags(uint32_t generation);

private:
    // A slot and its place in the list of its tag's slots, linked both ways (a slot leaves its
    // list in one step, however many items share the tag); -1 ends a list.
    struct Slot {
        ItemObject* item = nullptr;
        int32_t tag = kNoTag;  // the tag the slot is listed under
        int32_t nextOfTag = -1;
        int32_t previousOfTag = -1;
    };
    // The first slot of each tag's list, for a run of tags: made when one of them gets an item
    // and dropped when the last goes, so that the index too costs by use.
    static constexpr int kTagsPerHeads = 64;
    struct TagHeads {
        int32_t listed = 0;
        int32_t firstSlot[kTagsPerHeads];
    };

    std::vector<Slot> m_slots;  // up to the highest used slot
    // Every slot below it is in use: the search for a free slot starts here, so that adding n
    // items one after another costs n steps instead of n * n / 2.
    int m_searchFrom = 0;
    uint32_t m_edits = 0;
    std::vector<std::unique_ptr<TagHeads>> m_tagHeads;  // up to the highest run with an item
    uint32_t m_tagIndexGeneration = 0;

    int32_t FirstOfTag(int tag) const
    {
        const size_t run = static_cast<size_t>(tag) / kTagsPerHeads;
        if (tag < 0 || run >= m_tagHeads.size() || !m_tagHeads[run]) return -1;
        return m_tagHeads[run]->firstSlot[tag % kTagsPerHeads];
    }
    bool MakeRoomFor(size_t slots);
    // False when memory is short for the tag's heads; the slot then stays unlisted.
    bool ListUnderTag(int slot);
    void UnlistFromTag(int slot);
    // Drops the free slots above the highest used one.
    void Trim();
};
