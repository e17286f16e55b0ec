#include "value_text.h"

#include <cwchar>
#include <cwctype>
#include <iterator>
#include <memory>

#include "opc_da.h"

namespace {

const struct {
    VARTYPE type;
    const wchar_t* name;
} kTypeNames[] = {
    {VT_EMPTY, L"EMPTY"}, {VT_I1, L"I1"},           {VT_I2, L"I2"},     {VT_I4, L"I4"},
    {VT_I8, L"I8"},       {VT_UI1, L"UI1"},         {VT_UI2, L"UI2"},   {VT_UI4, L"UI4"},
    {VT_UI8, L"UI8"},     {VT_INT, L"INT"},         {VT_UINT, L"UINT"}, {VT_R4, L"R4"},
    {VT_R8, L"R8"},       {VT_CY, L"CY"},           {VT_DATE, L"DATE"}, {VT_BSTR, L"BSTR"},
    {VT_BOOL, L"BOOL"},   {VT_DECIMAL, L"DECIMAL"},
};

}  // namespace

std::wstring TypeName(VARTYPE type)
{
    for (const auto& entry : kTypeNames) {
        if (entry.type == type) return L"VT_" + std::wstring(entry.name);
    }
    return std::to_wstring(type);
}

bool ParseTypeName(const std::wstring& text, VARTYPE& type)
{
    std::wstring name;
    for (wchar_t c : text) name += static_cast<wchar_t>(std::towupper(c));
    if (name.compare(0, 3, L"VT_") == 0) name.erase(0, 3);
    for (const auto& entry : kTypeNames) {
        if (name == entry.name) {
            type = entry.type;
            return true;
        }
    }
    return false;
}

std::wstring ValueText(const VARIANT& value)
{
    std::wstring text;
    if (value.vt == VT_BSTR) {
        text = L"\"" + std::wstring(value.bstrVal ? value.bstrVal : L"") + L"\"";
    } else if (value.vt == VT_BOOL) {
        text = std::wstring(value.boolVal ? L"true" : L"false") + L" (" +
               std::to_wstring(value.boolVal) + L")";
    } else if (value.vt == VT_EMPTY) {
        text = L"(empty)";
    } else {
        VARIANT shown;
        VariantInit(&shown);
        // VariantChangeType takes a non-const source; it only reads it.
        if (SUCCEEDED(VariantChangeType(&shown, const_cast<VARIANT*>(&value), 0, VT_BSTR))) {
            text = shown.bstrVal ? shown.bstrVal : L"";
        } else {
            text = L"(not shown)";
        }
        VariantClear(&shown);
    }
    return text + L" (" + TypeName(value.vt) + L")";
}

std::wstring QualityText(WORD quality)
{
    const std::wstring number = L" (" + HexText(quality, 2) + L")";
    switch (quality) {
    case OPC_QUALITY_GOOD:
        return L"good" + number;
    case OPC_QUALITY_OUT_OF_SERVICE:
        return L"out of service" + number;
    case OPC_QUALITY_BAD:
        return L"bad" + number;
    default:
        return HexText(quality, 2);
    }
}

std::wstring TimeText(const FILETIME& time)
{
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&time, &utc)) return L"(invalid)";
    wchar_t text[40];
    std::swprintf(text, std::size(text), L"%04u-%02u-%02u %02u:%02u:%02u.%03u UTC", utc.wYear,
                  utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
    return text;
}

std::wstring HexText(unsigned long number, int digits)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%0*lX", digits, number);
    return text;
}

HRESULT SendAsType(VARIANT& value, VARTYPE type)
{
    if (type == VT_EMPTY || type == VT_BSTR) return S_OK;
    return VariantChangeType(&value, &value, 0, type);
}
