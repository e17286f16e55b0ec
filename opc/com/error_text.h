#pragma once
#include <windows.h>

#include <string>

// A description of `code` for a person: our own text for the OPC codes and for every code this
// server returns (the platform's message table lacks some of them), the platform's message
// text for other codes, and otherwise a text naming the code in hexadecimal.
std::wstring DescribeError(HRESULT code);

// The locales the texts come in, as IOPCCommon offers them: the system default, English and
// Chinese (PRC). LOCALE_USER_DEFAULT and LOCALE_NEUTRAL (the same as the user's default) are
// taken too, though not listed: many clients pass them without asking.
inline constexpr LCID kEnglishLocale = 0x0409;
inline constexpr LCID kChineseLocale = 0x0804;
inline constexpr LCID kErrorTextLocales[] = {LOCALE_SYSTEM_DEFAULT, kEnglishLocale, kChineseLocale};
bool HasErrorTexts(LCID locale);

// The locale whose texts `locale` (one HasErrorTexts takes) gets: English and Chinese as they
// are; the system default Chinese on a system of ANSI code page 936 (where the package's own
// texts are Chinese), English otherwise; the user's default and the neutral locale Chinese when
// the user's language is Chinese in simplified script, English otherwise.
LCID TextLocale(LCID locale, UINT systemCodePage, LANGID userLanguage);
// The same on this system.
LCID TextLocale(LCID locale);

// The description of `code` in `locale`, one HasErrorTexts takes: the Chinese text when
// TextLocale gives kChineseLocale (the platform's message, or a Chinese text naming the code,
// for a code we have no text of); otherwise the text DescribeError(code) gives.
std::wstring DescribeError(HRESULT code, LCID locale);

// That description as a task-allocated string for a client, into *text (null on failure):
// E_INVALIDARG for a locale without texts, E_OUTOFMEMORY when the string cannot be had.
HRESULT TaskErrorString(HRESULT code, LCID locale, LPWSTR* text);
