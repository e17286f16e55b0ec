#include "opc/values/value_conversion.h"

#include <cstring>

#include "opc/values/item_value_owner.h"

namespace {

bool IsScalar(VARTYPE base)
{
    switch (base) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_ERROR:
    case VT_BOOL:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool HoldsReference(VARTYPE base)
{
    return base == VT_DISPATCH || base == VT_UNKNOWN || base == VT_VARIANT || base == VT_RECORD;
}

// How many bytes of the union a scalar of this type fills.
size_t ScalarBytes(VARTYPE type)
{
    switch (type) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
        return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8:
        return 8;
    case VT_BSTR:
        return sizeof(BSTR);
    default:
        return 0;
    }
}

// VariantChangeType hands back its own temporary whole (Wine's does), so its reserved words and
// the union's unused bytes are whatever that temporary's stack held; they would go to clients
// byte for byte in streams and replies. Only the type and the value's own bytes are kept.
void DropUnusedBytes(VARIANT& value)
{
    if (value.vt == VT_DECIMAL) return;  // a DECIMAL fills the whole VARIANT
    VARIANT clean{};
    clean.vt = value.vt;
    std::memcpy(&clean.llVal, &value.llVal, ScalarBytes(value.vt));
    value = clean;
}

}  // namespace

HRESULT CheckScalarType(VARTYPE vt)
{
    const VARTYPE flags = vt & ~VT_TYPEMASK;
    const VARTYPE base = vt & VT_TYPEMASK;
    if ((flags & ~(VT_BYREF | VT_ARRAY)) != 0) return DISP_E_BADVARTYPE;
    if (!IsScalar(base) && !HoldsReference(base)) return DISP_E_BADVARTYPE;
    if (flags != 0 || HoldsReference(base)) return DISP_E_TYPEMISMATCH;
    return S_OK;
}

HRESULT ConvertValue(const VARIANT& value, VARTYPE type, VARIANT* converted)
{
    VariantClear(converted);
    HRESULT hr = CheckScalarType(value.vt);
    if (SUCCEEDED(hr)) hr = CheckScalarType(type);
    if (FAILED(hr)) return hr;

    const VARIANT* source = &value;
    BstrOwner emptyText;
    VARIANT emptyTextValue{};
    if (value.vt == VT_BSTR && !value.bstrVal) {
        emptyText.reset(SysAllocString(L""));
        if (!emptyText) return E_OUTOFMEMORY;
        emptyTextValue.vt = VT_BSTR;
        emptyTextValue.bstrVal = emptyText.get();
        source = &emptyTextValue;
    }
    VariantOwner result;
    // VariantChangeType takes a non-const source; it only reads it.
    hr = VariantChangeType(result.Receive(), const_cast<VARIANT*>(source), 0, type);
    if (FAILED(hr)) return hr;
    *converted = result.Release();
    DropUnusedBytes(*converted);
    return S_OK;
}
