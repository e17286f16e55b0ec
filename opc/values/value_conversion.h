#pragma once
// Value conversion between an item's canonical type and the types clients give or ask for:
// the OLE Automation coercion (VariantChangeType, no flags, no locale of the group), behind a
// check that keeps client VARIANTs from reaching memory or objects outside the VARIANT.
#include <windows.h>
#include <oleauto.h>

// S_OK for a scalar type held inside the VARIANT itself. DISP_E_TYPEMISMATCH for a valid type
// that is refused because it points outside the VARIANT (VT_BYREF, VT_ARRAY, objects, nested
// VARIANTs, records); DISP_E_BADVARTYPE for anything that is not a VARIANT type at all.
HRESULT CheckScalarType(VARTYPE vt);

// Converts value to type into *converted, which must hold a valid VARIANT (VariantInit it
// first): it is cleared, and left VT_EMPTY on failure.
// Both the value's type and the target type must pass CheckScalarType. A null BSTR counts as
// the empty string, as OLE Automation treats it.
HRESULT ConvertValue(const VARIANT& value, VARTYPE type, VARIANT* converted);
