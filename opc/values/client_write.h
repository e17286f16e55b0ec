#pragma once
// The step every client write takes before anything of it is written, whichever interface
// made it (IOPCSyncIO/IOPCSyncIO2, IOPCAsyncIO/2/3 through the item's write, IOPCItemIO by item
// ID): whether the tag takes a value now, and the value in the tag's canonical type. The answer
// is the per-item code the client gets, the same on every path.
#include <windows.h>
#include <oleauto.h>

// Whether the tag in `slot` refuses client writes now: its record's write-inhibit flag is 1.
// False without the Viewer's area or a record for the slot, where nothing can be known.
bool TagWriteInhibited(int slot);

// `value` converted to `canonicalType`, the canonical type of the tag in `slot` (kNoTag: a tag
// the item no longer finds; only the value is judged), into *converted (a valid VARIANT,
// cleared first; VT_EMPTY unless S_OK). Nothing is written; on S_OK the caller stores or posts
// the converted value. In the order checked:
// - OPC_SERVER_E_VIEWER_NOT_RUNNING while the Viewer is gone: the value would wait for a Viewer
//   that may never come, and be lost;
// - OPC_E_BADRIGHTS when the tag is write-inhibited (TagWriteInhibited): the poll cycle would
//   drop the value;
// - OPC_E_RANGE for a number the type cannot hold: outside the signed 32-bit range once rounded,
//   NaN or an infinity for an integer tag; NaN or an infinity for a discrete tag; beyond FLT_MAX
//   (infinities too) for a real tag. A real tag takes NaN: its record holds an IEEE single,
//   which can, and a client may mean it (no valid measurement);
// - OPC_E_BADTYPE for a value that does not convert (a text that is no number, an array, a
//   reference, an object, no VARIANT type at all);
// - E_OUTOFMEMORY when a text cannot be copied.
HRESULT ValueForTagWrite(const VARIANT& value, VARTYPE canonicalType, int slot, VARIANT* converted);
