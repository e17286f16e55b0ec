// The item's step of the update pass, kept with the pass rather than with the item's client
// operations.
#include "opc/items/item_object.h"
#include "opc/values/item_value.h"
#include "opc/values/tag_lookup.h"
#include "runtime_link/viewer_link.h"

MirrorEntry* ItemObject::TagEntry()
{
    if (m_tagGeneration != TagMirrorGeneration()) {
        m_tagSlot = FindTagOfItemId(m_itemId.get());
        m_tagGeneration = TagMirrorGeneration();
        m_seenTagChange = kTagChangeNotSeen;
    }
    return m_tagSlot == kNoTag ? nullptr : g_tagMirror[m_tagSlot];
}

void ItemObject::PostWriteToTag()
{
    MirrorEntry* entry = TagEntry();
    if (entry) PostWriteTo(*entry);
}

void ItemObject::PostWriteTo(MirrorEntry& entry)
{
    PostWriteToMirrorEntry(m_value.get(), m_writeSequence, m_tagSlot, entry);
    m_writePending = 0;
    // The entry may hold another value (a cut text, a later write): the next pass compares.
    m_seenTagChange = kTagChangeNotSeen;
}

void ItemObject::RefreshFromTag(const RefreshPass& pass)
{
    MirrorEntry* entry = TagEntry();
    if (entry) RefreshFromMirrorEntry(*entry, pass);
}

void ItemObject::RefreshFromMirrorEntry(MirrorEntry& entry, const RefreshPass& pass)
{
    const WORD quality = pass.quality;
    const FILETIME& cycleTime = pass.cycleTime;
    // Whatever the step finds, the kept streams are rewritten for the item.
    m_streamed = false;
    bool changed = false;
    if (quality != m_quality) {
        m_quality = quality;
        m_timestamp = cycleTime;
        changed = true;
    }
    if (m_writePending) {
        // The item is not re-read on this pass.
        PostWriteTo(entry);
    } else if (CanonicalTypeOfKind(entry.kind) == VT_EMPTY ||
               HoldsValueOfMirrorEntry(m_value.get(), entry)) {
        m_seenTagChange = TagChangeNumber(m_tagSlot);
    } else {
        // Only a value that differs is made anew. A string that cannot be copied leaves the
        // item's value as it was.
        VariantOwner value;
        if (SUCCEEDED(ValueOfMirrorEntry(entry, value.Receive()))) {
            // The timestamp says when the value was last seen to change; an unchanged value
            // keeps it.
            if (!SameItemValue(m_value.get(), value.get())) {
                m_timestamp = cycleTime;
                changed = true;
            }
            m_value = std::move(value);
            m_canonicalType = m_value.vt();
            m_seenTagChange = TagChangeNumber(m_tagSlot);
        }
    }
    // For the advise sinks every active item counts as changed once per update period.
    MarkChanged(changed ? kOwedToEverySink : kOwedToBothSinks);
}
