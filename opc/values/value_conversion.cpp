#include "opc/values/value_conversion.h"

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
    return S_OK;
}
