#include "opc/values/item_value.h"

#include <cstring>
#include <cwchar>

#include "opc/values/item_value_owner.h"
#include "opc/values/tag_changes.h"
#include "opc/values/value_conversion.h"
#include "opc_da.h"
#include "opc_error.h"
#include "runtime_link/tag_record.h"
#include "runtime_link/viewer_link.h"

namespace {

uint64_t g_writeSequence = 0;

bool IsHighSurrogate(wchar_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

void StoreText(BSTR text, MirrorEntry& entry)
{
    // A null BSTR is the empty string.
    size_t units = text ? SysStringLen(text) : 0;
    if (units > static_cast<size_t>(kMirrorTextUnits)) {
        units = kMirrorTextUnits;
        // Half a pair is no character; the Viewer's code page conversion would garble it.
        if (IsHighSurrogate(text[units - 1])) --units;
    }
    if (units) std::wmemcpy(entry.value.text, text, units);
    entry.value.text[units] = L'\0';
}

// The type, three reserved words and 8-byte value: what a stream's value block carries of a
// VARIANT.
constexpr size_t kStreamedVariantBytes = 16;

// The entry's value in a zeroed VARIANT of its canonical type, a string's text not yet copied.
// A discrete value is the word's low 16 bits as they are; a real is copied bit for bit.
VARIANT ScalarOfMirrorEntry(const MirrorEntry& entry)
{
    VARIANT made;
    std::memset(&made, 0, sizeof made);
    switch (entry.kind) {
    case kValueKindDiscrete:
        made.boolVal = static_cast<VARIANT_BOOL>(entry.value.integer & 0xFFFF);
        break;
    case kValueKindInteger:
        made.lVal = entry.value.integer;
        break;
    case kValueKindReal:
        std::memcpy(&made.fltVal, &entry.value.real, sizeof made.fltVal);
        break;
    default:
        break;
    }
    made.vt = CanonicalTypeOfKind(entry.kind);
    return made;
}

// The field is terminated within its width; the bound guards an entry that is not.
UINT EntryTextUnits(const MirrorEntry& entry)
{
    return static_cast<UINT>(wcsnlen(entry.value.text, kMirrorTextUnits));
}

}  // namespace

VARTYPE CanonicalTypeOfKind(int32_t kind)
{
    switch (kind) {
    case kValueKindDiscrete:
        return VT_BOOL;
    case kValueKindInteger:
        return VT_I4;
    case kValueKindReal:
        return VT_R4;
    case kValueKindString:
        return VT_BSTR;
    default:
        return VT_EMPTY;
    }
}

HRESULT ValueOfMirrorEntry(const MirrorEntry& entry, VARIANT* value)
{
    VARIANT made = ScalarOfMirrorEntry(entry);
    if (made.vt == VT_BSTR) {
        made.bstrVal = SysAllocStringLen(entry.value.text, EntryTextUnits(entry));
        if (!made.bstrVal) return E_OUTOFMEMORY;
    }
    VariantClear(value);
    *value = made;
    return S_OK;
}

bool HoldsValueOfMirrorEntry(const VARIANT& value, const MirrorEntry& entry)
{
    const VARIANT made = ScalarOfMirrorEntry(entry);
    if (made.vt != VT_BSTR) return std::memcmp(&value, &made, kStreamedVariantBytes) == 0;
    if (value.vt != VT_BSTR || value.wReserved1 || value.wReserved2 || value.wReserved3) {
        return false;
    }
    const UINT units = EntryTextUnits(entry);
    return SysStringLen(value.bstrVal) == units &&
           (units == 0 || std::wmemcmp(value.bstrVal, entry.value.text, units) == 0);
}

void StoreValueInMirrorEntry(const VARIANT& value, MirrorEntry& entry)
{
    switch (value.vt) {
    case VT_I4:
        entry.value.integer = value.lVal;
        break;
    case VT_R4:
        std::memcpy(&entry.value.real, &value.fltVal, sizeof entry.value.real);
        break;
    case VT_BOOL:
        entry.value.integer = value.boolVal;
        break;
    case VT_BSTR:
        StoreText(value.bstrVal, entry);
        break;
    default:
        break;
    }
}

uint64_t NextWriteSequence()
{
    return ++g_writeSequence;
}

void PostWriteToMirrorEntry(const VARIANT& value, uint64_t sequence, int slot, MirrorEntry& entry)
{
    if (sequence <= entry.writeSequence) return;
    StoreValueInMirrorEntry(value, entry);
    entry.valueTime = UtcTicksNow();
    entry.writePending = 1;
    entry.writeSequence = sequence;
    NoteTagWritten(slot);
}

bool SameItemValue(const VARIANT& before, const VARIANT& after)
{
    if (before.vt != after.vt) return false;
    switch (before.vt) {
    case VT_BOOL:
        return before.boolVal == after.boolVal;
    case VT_I4:
        return before.lVal == after.lVal;
    case VT_R4:
        return std::memcmp(&before.fltVal, &after.fltVal, sizeof before.fltVal) == 0;
    case VT_BSTR: {
        const UINT units = SysStringLen(before.bstrVal);
        return units == SysStringLen(after.bstrVal) &&
               (units == 0 || std::wmemcmp(before.bstrVal, after.bstrVal, units) == 0);
    }
    default:
        return before.vt == VT_EMPTY;
    }
}

FILETIME CurrentUtcTime()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME time{};
    SystemTimeToFileTime(&now, &time);
    return time;
}

FILETIME ValueTimeOfMirrorEntry(const MirrorEntry& entry)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(entry.valueTime);
    time.dwHighDateTime = static_cast<DWORD>(entry.valueTime >> 32);
    return time;
}

WORD ReadQuality(DWORD source, bool active, WORD storedQuality)
{
    if (source == OPC_DS_DEVICE || active) return storedQuality;
    return OPC_QUALITY_OUT_OF_SERVICE;
}

HRESULT ReadItem(const ItemReadSource& item, DWORD source, VARIANT* value, WORD* quality)
{
    if (quality) *quality = ReadQuality(source, item.active, item.storedQuality);
    if (!value) return S_OK;
    VariantClear(value);
    HRESULT converted = S_OK;
    if (item.requestedType != VT_EMPTY) {
        converted = ConvertValue(*item.value, item.requestedType, value);
        if (SUCCEEDED(converted)) return S_OK;
    }
    // No conversion asked for, or it failed: the caller gets the canonical value.
    // VariantCopy takes a non-const source; it only reads it.
    const HRESULT copied = VariantCopy(value, const_cast<VARIANT*>(item.value));
    const HRESULT result = FAILED(converted) ? converted : copied;
    if (FAILED(result) && quality) *quality = OPC_QUALITY_BAD;
    return result;
}

bool WithinMaxAge(unsigned long long takenAt, DWORD maxAge)
{
    if (maxAge == kAnyAge) return true;
    return takenAt != 0 && GetTickCount64() - takenAt <= maxAge;
}

HRESULT TagValueWithinMaxAge(int slot, DWORD maxAge, VARIANT* value, WORD* quality,
                             FILETIME* timestamp)
{
    if (slot < 0 || slot >= g_mirrorCount || slot >= kMirrorSlots || !g_tagMirror[slot]) {
        return OPC_E_UNKNOWNITEMID;
    }
    const MirrorEntry* taken = g_tagMirror[slot];
    *quality = ViewerLinked() ? OPC_QUALITY_GOOD : OPC_QUALITY_COMM_FAILURE;
    MirrorEntry now;
    if (ViewerLinked() && !WithinMaxAge(MirrorRefreshedAt(), maxAge) &&
        ReadTagRecordNow(slot, now)) {
        taken = &now;
    }
    *timestamp = ValueTimeOfMirrorEntry(*taken);
    return ValueOfMirrorEntry(*taken, value);
}

HRESULT VqtWritable(const OPCITEMVQT& vqt)
{
    return vqt.bQualitySpecified || vqt.bTimeStampSpecified ? OPC_E_NOTSUPPORTED : S_OK;
}
