#pragma once
#include <windows.h>

#include <string>

// A description of `code` for a person: our own text for the OPC codes and for every code this
// server returns (the platform's message table lacks some of them), the platform's message
// text for other codes, and otherwise a text naming the code in hexadecimal.
std::wstring DescribeError(HRESULT code);

// The locales the texts come in: the system default (the texts above), English and Chinese
// (PRC). A server object's IOPCCommon offers these.
inline constexpr LCID kChineseLocale = 0x0804;
inline constexpr LCID kErrorTextLocales[] = {LOCALE_SYSTEM_DEFAULT, 0x0409, kChineseLocale};
bool HasErrorTexts(LCID locale);

// The description of `code` in `locale`, one of kErrorTextLocales: the Chinese text for
// kChineseLocale (the platform's message, or a Chinese text naming the code, for a code we have
// no text of); for the others the text DescribeError(code) gives.
std::wstring DescribeError(HRESULT code, LCID locale);
