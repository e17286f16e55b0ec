#include "option_arguments.h"

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <cwctype>

std::wstring OptionArguments::Option(const std::wstring& name, const std::wstring& fallback) const
{
    const auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
}

bool ParseNumber(const std::wstring& text, DWORD& number)
{
    if (text.empty() || !std::iswdigit(text[0])) return false;
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long value = std::wcstoul(text.c_str(), &end, 10);
    if (*end != L'\0' || errno == ERANGE || value > 0xFFFFFFFFul) return false;
    number = static_cast<DWORD>(value);
    return true;
}

bool OptionArguments::NumberOption(const std::wstring& name, DWORD& number) const
{
    const auto found = options.find(name);
    return found == options.end() || ParseNumber(found->second, number);
}

bool OptionArguments::MaxAgeOption(DWORD& maxAge) const
{
    if (Option(L"maxage", L"") == L"any") {
        maxAge = 0xFFFFFFFF;
        return true;
    }
    return NumberOption(L"maxage", maxAge);
}

bool ParseOptionArguments(const CommandArguments& arguments,
                          const std::vector<std::wstring>& allowed, OptionArguments& parsed)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& word = arguments[i];
        if (word.rfind(L"--", 0) != 0) {
            parsed.words.push_back(word);
            continue;
        }
        const std::wstring name = word.substr(2);
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) return false;
        if (++i == arguments.size()) return false;
        if (!parsed.options.emplace(name, arguments[i]).second) return false;
    }
    return true;
}

bool ParseSource(const OptionArguments& parsed, OPCDATASOURCE& source)
{
    const std::wstring name = parsed.Option(L"source", L"cache");
    if (name != L"cache" && name != L"device") return false;
    source = name == L"cache" ? OPC_DS_CACHE : OPC_DS_DEVICE;
    return true;
}
