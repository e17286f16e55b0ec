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
