#include "opc/values/item_properties.h"

#include "opc/values/call_limits.h"
#include "opc/values/client_write.h"
#include "opc/values/item_value.h"
#include "opc/values/tag_lookup.h"
#include "opc_da.h"
#include "opc_error.h"
#include "runtime_link/tag_mirror.h"
#include "runtime_link/viewer_link.h"

namespace {

// Writes to a write-inhibited tag are refused, so such a tag is only readable; without the
// Viewer's area nothing can be known and the item's usual rights hold.
DWORD AccessRights(int slot)
{
    return TagWriteInhibited(slot) ? OPC_READABLE : OPC_READABLE | OPC_WRITEABLE;
}

// OLE Automation dates count days from 1899-12-30; FILETIME counts 100 ns from 1601-01-01.
// Computed directly, because SystemTimeToVariantTime drops the milliseconds.
DATE DateOfFileTime(const FILETIME& time)
{
    constexpr double kTicksPerDay = 864000000000.0;
    constexpr ULONGLONG kTicksTo1899 = 94353120000000000ULL;
    const ULONGLONG ticks =
        (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (static_cast<double>(ticks) - static_cast<double>(kTicksTo1899)) / kTicksPerDay;
}

}  // namespace

const wchar_t* ItemPropertyDescription(DWORD id)
{
    for (const ItemProperty& property : kItemProperties) {
        if (property.id == id) return property.description;
    }
    return nullptr;
}

HRESULT FindTagOfPropertyItem(const wchar_t* itemId, int* slot)
{
    // The bound first: the lookup reads the whole ID.
    if (!itemId || !WithinUnits(itemId, kMaxItemIdUnits)) return OPC_E_INVALIDITEMID;
    const std::wstring_view name = TagNameOfItemId(itemId);
    if (name.empty() || name.size() >= static_cast<size_t>(kMirrorNameUnits))
        return OPC_E_INVALIDITEMID;
    *slot = FindTagOfItemId(itemId);
    return *slot == kNoTag ? OPC_E_UNKNOWNITEMID : S_OK;
}

VARTYPE ItemPropertyType(int slot, DWORD id)
{
    switch (id) {
    case 1:
    case 3:
        return VT_I2;
    case 2:
        return CanonicalTypeOfKind(g_tagMirror[slot]->kind);
    case 4:
        return VT_DATE;
    case 5:
        return VT_I4;
    case 6:
        return VT_R4;
    default:
        return VT_EMPTY;
    }
}

HRESULT ItemPropertyValue(int slot, DWORD id, int32_t pollPeriodMs, VARIANT* value)
{
    if (!ItemPropertyDescription(id)) return OPC_E_INVALID_PID;
    VariantClear(value);
    const MirrorEntry& entry = *g_tagMirror[slot];
    switch (id) {
    case 1:
        value->vt = VT_I2;
        value->iVal = static_cast<SHORT>(CanonicalTypeOfKind(entry.kind));
        return S_OK;
    case 2:
        // A tag without a value gives an empty one.
        if (CanonicalTypeOfKind(entry.kind) == VT_EMPTY) return S_OK;
        return ValueOfMirrorEntry(entry, value);
    case 3:
        value->vt = VT_I2;
        value->iVal =
            static_cast<SHORT>(ViewerLinked() ? OPC_QUALITY_GOOD : OPC_QUALITY_COMM_FAILURE);
        return S_OK;
    case 4:
        value->vt = VT_DATE;
        value->date = DateOfFileTime(ValueTimeOfMirrorEntry(entry));
        return S_OK;
    case 5:
        value->vt = VT_I4;
        value->lVal = static_cast<LONG>(AccessRights(slot));
        return S_OK;
    default:
        value->vt = VT_R4;
        value->fltVal = static_cast<float>(pollPeriodMs);
        return S_OK;
    }
}
