#include "registry_key.h"

#include <objbase.h>

#include <memory>
#include <type_traits>
#include <vector>

namespace registration {
namespace {

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyHandle = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

}  // namespace

std::wstring guid_text(const GUID& guid)
{
    wchar_t text[40];
    const int length = StringFromGUID2(guid, text, ARRAYSIZE(text));
    return std::wstring(text, length > 0 ? length - 1 : 0);
}

RegistryResult set_string(HKEY root, const std::wstring& subkey, const wchar_t* name,
                          const std::wstring& value)
{
    HKEY raw = nullptr;
    LSTATUS status = RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) return {status, subkey};
    KeyHandle key(raw);
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key.get(), name, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    if (status != ERROR_SUCCESS) return {status, subkey};
    return {};
}

RegistryResult create_key(HKEY root, const std::wstring& subkey)
{
    HKEY raw = nullptr;
    const LSTATUS status =
        RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ,
                        nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) return {status, subkey};
    RegCloseKey(raw);
    return {};
}

RegistryResult delete_tree(HKEY root, const std::wstring& subkey)
{
    const LSTATUS status = RegDeleteTreeW(root, subkey.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return {};
    return {status, subkey};
}

std::optional<std::wstring> read_string(HKEY root, const std::wstring& subkey, const wchar_t* name)
{
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegGetValueW(root, subkey.c_str(), name, RRF_RT_REG_SZ, &type, nullptr, &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegGetValueW(root, subkey.c_str(), name, RRF_RT_REG_SZ, &type, buffer.data(), &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(buffer.data());
}

}  // namespace registration
