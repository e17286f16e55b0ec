// The item's step of the update pass, kept with the pass rather than with the item's client
// operations.
#include "opc/items/item_object.h"
#include "opc/values/item_value.h"

void ItemObject::RefreshFromMirrorEntry(MirrorEntry& entry, const FILETIME& cycleTime)
{
    if (m_writePending) {
        // The client's value goes to the tag; the item is not re-read on this pass.
        StoreValueInMirrorEntry(m_value.get(), entry);
        entry.writePending = 1;
        m_writePending = 0;
    } else if (CanonicalTypeOfKind(entry.kind) != VT_EMPTY) {
        // A string that cannot be copied leaves the item's value as it was.
        VariantOwner value;
        if (SUCCEEDED(ValueOfMirrorEntry(entry, value.Receive()))) {
            // The timestamp says when the value was last seen to change; an unchanged value
            // keeps it.
            if (!SameItemValue(m_value.get(), value.get())) m_timestamp = cycleTime;
            m_value = std::move(value);
            m_canonicalType = m_value.vt();
        }
    }
    // Every active item counts as changed once per update period; nothing is compared.
    MarkChanged();
}
