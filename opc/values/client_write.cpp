#include "opc/values/client_write.h"

#include <cmath>

#include "opc/values/item_value_owner.h"
#include "opc/values/value_conversion.h"
#include "opc_error.h"
#include "runtime_link/shared_tag_area.h"
#include "runtime_link/tag_name_index.h"
#include "runtime_link/viewer_link.h"

namespace {

// Whether a number the value holds (of any numeric type, or as a text) is one the canonical
// type cannot hold although the platform's coercion makes something of it: NaN becomes
// 2147483647 for an integer and VARIANT_TRUE for a discrete tag (NaN compares false with every
// bound), an infinity VARIANT_TRUE, and an unsigned 32-bit number past the signed range wraps
// round to a negative integer. None of them is the value the client meant.
bool OutOfRangeForType(const VARIANT& value, VARTYPE canonicalType)
{
    if (canonicalType != VT_I4 && canonicalType != VT_BOOL) return false;
    VariantOwner number;
    if (FAILED(ConvertValue(value, VT_R8, number.Receive()))) return false;
    const double x = number.get().dblVal;
    if (canonicalType == VT_BOOL) return !std::isfinite(x);
    // Rounded half to even, as the coercion rounds: -2147483648.5 still gives the lowest integer.
    return !(x >= -2147483648.5 && x < 2147483647.5);
}

HRESULT WriteAnswerOfConversion(HRESULT converted)
{
    if (SUCCEEDED(converted) || converted == E_OUTOFMEMORY) return converted;
    return converted == DISP_E_OVERFLOW ? OPC_E_RANGE : OPC_E_BADTYPE;
}

}  // namespace

bool TagWriteInhibited(int slot)
{
    return g_sharedTagArea && slot >= 0 && slot < g_sharedTagRecordCapacity &&
           g_sharedTagArea[slot].writeInhibit == 1;
}

HRESULT ValueForTagWrite(const VARIANT& value, VARTYPE canonicalType, int slot, VARIANT* converted)
{
    VariantClear(converted);
    if (!ViewerLinked()) return OPC_SERVER_E_VIEWER_NOT_RUNNING;
    if (slot != kNoTag && TagWriteInhibited(slot)) return OPC_E_BADRIGHTS;
    if (OutOfRangeForType(value, canonicalType)) return OPC_E_RANGE;
    const HRESULT hr = WriteAnswerOfConversion(ConvertValue(value, canonicalType, converted));
    if (FAILED(hr)) return hr;
    // An infinity stays one through the conversion to a single.
    if (converted->vt == VT_R4 && std::isinf(converted->fltVal)) {
        VariantClear(converted);
        return OPC_E_RANGE;
    }
    return S_OK;
}
