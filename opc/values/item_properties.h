#pragma once
// The item properties a tag offers (IOPCItemProperties): the standard properties 1 to 6 that
// this server can honour. A tag record has no description, so property 101 is not offered.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>

struct ItemProperty {
    DWORD id;
    const wchar_t* description;
};

// In the order QueryAvailableProperties lists them.
inline constexpr ItemProperty kItemProperties[] = {
    {1, L"Item Canonical DataType"}, {2, L"Item Value"},         {3, L"Item Quality"},
    {4, L"Item Timestamp"},          {5, L"Item Access Rights"}, {6, L"Server Scan Rate"},
};

// The description of property `id`; null for an id no tag offers.
const wchar_t* ItemPropertyDescription(DWORD id);

// The mirror slot of the tag `itemId` names, into *slot: OPC_E_INVALIDITEMID for an ID that can
// never name a tag (null, longer than kMaxItemIdUnits, an empty tag name, or one longer than a
// tag name holds),
// OPC_E_UNKNOWNITEMID when no tag has the name.
HRESULT FindTagOfPropertyItem(const wchar_t* itemId, int* slot);

// The data type of property `id` of the tag in `slot`: the tag's canonical type for the value,
// the published type for the others; VT_EMPTY for an id the tag does not have.
VARTYPE ItemPropertyType(int slot, DWORD id);

// The value of property `id` of the tag in `slot` into *value (a valid VARIANT, cleared
// first); the scan rate is `pollPeriodMs`, the timestamp the time the mirror took the value
// (ValueTimeOfMirrorEntry). OPC_E_INVALID_PID for an id the tag does not have; E_OUTOFMEMORY
// when a string value cannot be copied.
HRESULT ItemPropertyValue(int slot, DWORD id, int32_t pollPeriodMs, VARIANT* value);
