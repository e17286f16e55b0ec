#pragma once
// What one client call may ask of the server. Every call runs on the server's one thread, as
// the poll cycle does, so a list, a string or an answer larger than any client can mean is
// refused before anything is allocated or walked for it. The README lists these caps with the
// codes each call answers.
#include <windows.h>

#include <cstddef>
#include <cwchar>

// Entries of an item-ID or item-handle list (E_INVALIDARG beyond): twice the largest table
// there is (10000 tags in the mirror, 10000 item slots in a group), so that a full table's
// worth and more is still answered item by item.
inline constexpr DWORD kMaxListEntries = 20000;

// Entries of a property-ID list (E_INVALIDARG beyond). A tag has 6 properties and the published
// ranges name a few dozen; a list this long already repeats or invents IDs.
inline constexpr DWORD kMaxPropertyIds = 1024;

// UTF-16 units of an item ID or an access path (per item OPC_E_INVALIDITEMID or
// OPC_E_UNKNOWNPATH beyond; E_INVALIDARG from GetItemID): a tag name holds 35, this leaves
// room for any path a client puts before it.
inline constexpr size_t kMaxItemIdUnits = 1024;

// UTF-16 units of an element-name filter (OPC_E_INVALIDFILTER beyond): a tag name holds 35, and
// every element of a filter but '*' takes one of its characters. Matching costs up to a name's
// length times the filter's, for each of 10000 names: this keeps a Browse well within a poll
// period.
inline constexpr size_t kMaxNameFilterUnits = 256;

// UTF-16 units of a continuation point (OPC_E_INVALIDCONTINUATIONPOINT beyond): the server's own
// are a few units long.
inline constexpr size_t kMaxContinuationPointUnits = 64;

// Bytes of one call's answer, counted before it is built (E_OUTOFMEMORY beyond): room for every
// property with its value of every tag at once (about 23 MB).
inline constexpr size_t kMaxAnswerBytes = 32u * 1024u * 1024u;

// Whether `text` ends within `units` UTF-16 units; reads no further than one unit past them.
// Null is within any cap.
inline bool WithinUnits(const wchar_t* text, size_t units)
{
    return !text || wcsnlen(text, units + 1) <= units;
}
