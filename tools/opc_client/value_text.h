#pragma once
// How the client shows and reads OPC values: data type names, values, qualities and times.
#include <windows.h>
#include <oleauto.h>

#include <string>

// "VT_I4" for VT_I4; the number for a type without a name here.
std::wstring TypeName(VARTYPE type);
// A type named as "R8", "VT_R8" or "r8" (also "EMPTY" for the server's own type); false for
// any other text.
bool ParseTypeName(const std::wstring& text, VARTYPE& type);
// The value for reading: texts in quotes, booleans as true/false with their 16-bit number,
// everything else as OLE Automation turns it into text; "(VT_x)" after it.
std::wstring ValueText(const VARIANT& value);
// "good (0xC0)", "out of service (0x1C)", "bad (0x00)" or the number.
std::wstring QualityText(WORD quality);
// "2026-12-07 22:11:03.123 UTC".
std::wstring TimeText(const FILETIME& time);
// "0x0000001C" for (0x1C, 8): the number in hexadecimal with at least `digits` digits.
std::wstring HexText(unsigned long number, int digits = 8);

// Makes a text value the value a client program would send: converted to `type`, or left as
// text for VT_EMPTY and VT_BSTR.
HRESULT SendAsType(VARIANT& value, VARTYPE type);

// A VARIANT holding a copy of `text` as VT_BSTR, cleared when it goes; Made() is false when the
// string could not be had.
class TextValue {
public:
    explicit TextValue(const std::wstring& text)
    {
        VariantInit(&m_value);
        m_value.bstrVal = SysAllocString(text.c_str());
        if (m_value.bstrVal) m_value.vt = VT_BSTR;
    }
    ~TextValue() { VariantClear(&m_value); }
    TextValue(const TextValue&) = delete;
    TextValue& operator=(const TextValue&) = delete;

    bool Made() const { return m_value.vt == VT_BSTR; }
    VARIANT& Value() { return m_value; }

private:
    VARIANT m_value;
};
