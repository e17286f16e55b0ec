#pragma once
// A command's words split into its plain words and its "--name value" options.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "command.h"
#include "opc_da.h"

struct OptionArguments {
    std::vector<std::wstring> words;
    std::map<std::wstring, std::wstring> options;  // name without "--" -> value

    // The option's value, or `fallback` when it was not given.
    std::wstring Option(const std::wstring& name, const std::wstring& fallback) const;
    // The option as a whole decimal number; false when it is given and is no such number.
    bool NumberOption(const std::wstring& name, DWORD& number) const;
    // "--maxage MS|any" (any: 0xFFFFFFFF, whatever the server holds); maxAge is left as it is
    // when the option is not given, false when it is neither.
    bool MaxAgeOption(DWORD& maxAge) const;
};

// A whole unsigned decimal number, or false.
bool ParseNumber(const std::wstring& text, DWORD& number);

// False when an option is not among `allowed`, lacks its value or is given twice.
bool ParseOptionArguments(const CommandArguments& arguments,
                          const std::vector<std::wstring>& allowed, OptionArguments& parsed);

// The "--source cache|device" option (cache when not given); false for another name.
bool ParseSource(const OptionArguments& parsed, OPCDATASOURCE& source);
