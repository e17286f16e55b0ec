#pragma once
// Test values held by their owner, each made in one expression.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "opc/values/item_value_owner.h"

template <typename Set>
VariantOwner MakeVariant(VARTYPE vt, Set set)
{
    VariantOwner owner;
    VARIANT* value = owner.Receive();
    value->vt = vt;
    set(*value);
    return owner;
}

inline VariantOwner I4(LONG x)
{
    return MakeVariant(VT_I4, [x](VARIANT& v) { v.lVal = x; });
}
inline VariantOwner R4(float x)
{
    return MakeVariant(VT_R4, [x](VARIANT& v) { v.fltVal = x; });
}
inline VariantOwner R8(double x)
{
    return MakeVariant(VT_R8, [x](VARIANT& v) { v.dblVal = x; });
}
inline VariantOwner Bool(VARIANT_BOOL x)
{
    return MakeVariant(VT_BOOL, [x](VARIANT& v) { v.boolVal = x; });
}
inline VariantOwner Bstr(const std::wstring& text)
{
    return MakeVariant(VT_BSTR, [&text](VARIANT& v) {
        v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    });
}
