#include "opc/items/item_table.h"

#include "opc/items/item_object.h"

#include <algorithm>
#include <new>

bool ItemTable::MakeRoomFor(size_t slots)
{
    if (slots <= m_slots.capacity()) return true;
    // Doubling, so that adding n items one after another moves each slot a bounded number of
    // times; never past the limit, so that a full table holds no spare slots.
    const size_t room =
        std::min(std::max(slots, 2 * m_slots.capacity()), static_cast<size_t>(kItemSlots));
    try {
        m_slots.reserve(room);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void ItemTable::Trim()
{
    while (!m_slots.empty() && !m_slots.back().item) m_slots.pop_back();
    // Given back only when mostly unused, so that a table around one size does not reallocate
    // with each item added and removed.
    if (m_slots.size() < m_slots.capacity() / 4) m_slots.shrink_to_fit();
}

bool ItemTable::ListUnderTag(int slot)
{
    Slot& listed = m_slots[static_cast<size_t>(slot)];
    const int tag = listed.item->TagSlot();
    if (tag < 0 || tag >= kMirrorSlots) return true;
    const size_t run = static_cast<size_t>(tag) / kTagsPerHeads;
    try {
        if (run >= m_tagHeads.size()) m_tagHeads.resize(run + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!m_tagHeads[run]) {
        m_tagHeads[run].reset(new (std::nothrow) TagHeads);
        if (!m_tagHeads[run]) return false;
        std::fill(std::begin(m_tagHeads[run]->firstSlot), std::end(m_tagHeads[run]->firstSlot), -1);
    }
    TagHeads& heads = *m_tagHeads[run];
    int32_t& head = heads.firstSlot[tag % kTagsPerHeads];
    listed.nextOfTag = head;
    listed.previousOfTag = -1;
    if (head >= 0) m_slots[static_cast<size_t>(head)].previousOfTag = slot;
    head = slot;
    listed.tag = tag;
    ++heads.listed;
    return true;
}

void ItemTable::UnlistFromTag(int slot)
{
    Slot& listed = m_slots[static_cast<size_t>(slot)];
    const int tag = listed.tag;
    if (tag == kNoTag) return;
    const size_t run = static_cast<size_t>(tag) / kTagsPerHeads;
    TagHeads& heads = *m_tagHeads[run];
    if (listed.previousOfTag >= 0) {
        m_slots[static_cast<size_t>(listed.previousOfTag)].nextOfTag = listed.nextOfTag;
    } else {
        heads.firstSlot[tag % kTagsPerHeads] = listed.nextOfTag;
    }
    if (listed.nextOfTag >= 0) {
        m_slots[static_cast<size_t>(listed.nextOfTag)].previousOfTag = listed.previousOfTag;
    }
    listed.tag = kNoTag;
    if (--heads.listed > 0) return;
    m_tagHeads[run].reset();
    while (!m_tagHeads.empty() && !m_tagHeads.back()) m_tagHeads.pop_back();
}

void ItemTable::IndexTags(uint32_t generation)
{
    m_tagHeads.clear();
    bool everyItemListed = true;
    for (size_t slot = 0; slot < m_slots.size(); ++slot) {
        m_slots[slot].tag = kNoTag;
        if (m_slots[slot].item) {
            everyItemListed = ListUnderTag(static_cast<int>(slot)) && everyItemListed;
        }
    }
    // An index missing an item must not be taken for the mirror's: the next pass refreshes
    // every item and indexes them again.
    m_tagIndexGeneration = everyItemListed ? generation : 0;
}

int ItemTable::LowestFreeSlot()
{
    while (static_cast<size_t>(m_searchFrom) < m_slots.size() && m_slots[m_searchFrom].item) {
        ++m_searchFrom;
    }
    if (m_searchFrom >= kItemSlots || !MakeRoomFor(static_cast<size_t>(m_searchFrom) + 1)) {
        return -1;
    }
    return m_searchFrom;
}

bool ItemTable::Place(int slot, ItemObject* item)
{
    const size_t index = static_cast<size_t>(slot);
    if (index >= m_slots.size()) {
        if (!MakeRoomFor(index + 1)) return false;
        m_slots.resize(index + 1);  // within the capacity just made: does not allocate
    }
    m_slots[index].item = item;
    // Unlisted, the item is still refreshed: an edit makes the next pass refresh every item
    // and index them again.
    ListUnderTag(slot);
    item->SetTable(this);
    NoteEdit();
    return true;
}

void ItemTable::Remove(OPCHANDLE handle)
{
    ItemObject* item = Find(handle);
    if (!item) return;
    // The slot is free before the item goes, so that nothing finds a dying item.
    UnlistFromTag(static_cast<int>(handle));
    m_slots[handle].item = nullptr;
    Trim();
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
    // Ascending, as every pass: of two items writing to one tag, the higher slot's write lands
    // last. The last removal trims the table to nothing.
    for (size_t slot = 0; slot < m_slots.size(); ++slot) Remove(static_cast<OPCHANDLE>(slot));
}
