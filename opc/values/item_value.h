#pragma once
// An item's value against its tag's mirror entry: the canonical type of each kind of tag, the
// value taken from an entry, a client's value posted back into it, and item read.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "opc_da.h"
#include "runtime_link/tag_mirror.h"

// Units of text a mirror entry's string value holds, without its terminator.
constexpr int kMirrorTextUnits = kMirrorStringUnits - 1;

// VT_BOOL, VT_I4, VT_R4 or VT_BSTR for the discrete, integer, real and string kinds;
// VT_EMPTY for a tag without a value.
VARTYPE CanonicalTypeOfKind(int32_t kind);

// The entry's value in its canonical type, into *value (a valid VARIANT, cleared first). A
// discrete value is the word's low 16 bits as they are (1 stays 1, not VARIANT_TRUE); a real
// is copied bit for bit. E_OUTOFMEMORY when a string cannot be copied; *value is then left as it was.
HRESULT ValueOfMirrorEntry(const MirrorEntry& entry, VARIANT* value);
// Whether `value` already is what ValueOfMirrorEntry makes of the entry: the same 16 bytes of
// type, reserved words and value that a stream carries, or for a string the same type, zero
// reserved words and the same text. The update pass then keeps the value it has.
bool HoldsValueOfMirrorEntry(const VARIANT& value, const MirrorEntry& entry);

// Stores a client's value, already in its canonical type, into the entry's value field by
// the VARIANT's type: VT_I4 and VT_R4 as their 32 bits, VT_BOOL widened with sign, VT_BSTR as
// at most kMirrorTextUnits units (never cutting a surrogate pair) and a terminator. Any other
// type stores nothing. The caller sets the entry's writePending.
void StoreValueInMirrorEntry(const VARIANT& value, MirrorEntry& entry);

// Numbers every client write of the process, an item's and one by item ID alike, in the order
// they are made: of two writes to one tag the later one made wins.
uint64_t NextWriteSequence();

// Posts a client's value, already in its canonical type and numbered `sequence`, into the entry
// of the tag in `slot`, stamped with the time of the post, where the next poll cycle takes it to
// the tag record with a write request; a later write already in the entry stays instead.
void PostWriteToMirrorEntry(const VARIANT& value, uint64_t sequence, int slot, MirrorEntry& entry);

// Whether an item's value is the same as before: the same type and the same bits (a real
// compared bit for bit) or the same text.
bool SameItemValue(const VARIANT& before, const VARIANT& after);

// Now in UTC, as item timestamps carry it.
FILETIME CurrentUtcTime();
// The time the entry took its value (MirrorEntry::valueTime).
FILETIME ValueTimeOfMirrorEntry(const MirrorEntry& entry);

// What item read needs of an item.
struct ItemReadSource {
    const VARIANT* value;   // the item's own value, in its canonical type
    VARTYPE requestedType;  // VT_EMPTY: deliver the canonical type
    WORD storedQuality;
    bool active;  // the item's active flag
};

// The quality item read reports before any conversion: from OPC_DS_DEVICE the stored quality;
// from OPC_DS_CACHE, or any other source, OPC_QUALITY_OUT_OF_SERVICE when the item is
// inactive, the stored quality otherwise.
WORD ReadQuality(DWORD source, bool active, WORD storedQuality);

// Item read of value and quality, each optional; *value must hold a valid VARIANT (VariantInit
// it first, for example in a newly allocated OPCITEMSTATE array). The value is a copy for the caller to clear,
// converted to the requested type when there is one; when that conversion fails the copy
// keeps the canonical type, the quality is OPC_QUALITY_BAD and the conversion's HRESULT is
// returned. A copy that cannot be made (no memory for a string) is reported the same way.
// Without a value to deliver nothing is converted, so the quality stays that of ReadQuality.
// The item itself is never changed.
HRESULT ReadItem(const ItemReadSource& item, DWORD source, VARIANT* value, WORD* quality);

// Reads with a maximum age, in ms: 0 asks for the value the tag record holds now; kAnyAge takes
// whatever value the server holds.
constexpr DWORD kAnyAge = 0xFFFFFFFF;

// Whether a value taken at tick `takenAt` (GetTickCount64; 0 for never) is at most maxAge old.
bool WithinMaxAge(unsigned long long takenAt, DWORD maxAge);

// The value of the tag in `slot` for a read of maxAge, in its canonical type, into *value (a
// valid VARIANT, cleared first), with the time that value belongs to: the mirror's when the poll
// cycle took it within maxAge, with the time the entry took it; else the tag record's now, with
// the time of this read. *quality is GOOD, or OPC_QUALITY_COMM_FAILURE with the mirror's value
// and time while the Viewer is not linked. OPC_E_UNKNOWNITEMID for a slot without an entry;
// E_OUTOFMEMORY when a string cannot be copied.
HRESULT TagValueWithinMaxAge(int slot, DWORD maxAge, VARIANT* value, WORD* quality,
                             FILETIME* timestamp);

// What a VQT write can carry to a tag: a tag record takes a value but keeps no quality or
// timestamp of its own, so an item whose quality or timestamp is specified is
// OPC_E_NOTSUPPORTED and nothing of it is written; S_OK otherwise.
HRESULT VqtWritable(const OPCITEMVQT& vqt);
