#include "registry_key.h"

#include <objbase.h>

#include <memory>
#include <type_traits>

namespace registration {
namespace {

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyHandle = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// Opens an existing key in the root's view; null when it cannot be opened (`status` says why).
KeyHandle open_key(const ClassesRoot& root, const std::wstring& subkey, REGSAM access,
                   LSTATUS& status)
{
    HKEY raw = nullptr;
    status = RegOpenKeyExW(root.key, subkey.c_str(), 0, access | root.view, &raw);
    return KeyHandle(status == ERROR_SUCCESS ? raw : nullptr);
}

}  // namespace

std::wstring guid_text(const GUID& guid)
{
    wchar_t text[40];
    const int length = StringFromGUID2(guid, text, ARRAYSIZE(text));
    return std::wstring(text, length > 0 ? length - 1 : 0);
}

RegistryResult set_string(const ClassesRoot& root, const std::wstring& subkey, const wchar_t* name,
                          const std::wstring& value)
{
    HKEY raw = nullptr;
    LSTATUS status = RegCreateKeyExW(root.key, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE | root.view, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) return {status, subkey};
    KeyHandle key(raw);
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key.get(), name, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    if (status != ERROR_SUCCESS) return {status, subkey};
    return {};
}

RegistryResult create_key(const ClassesRoot& root, const std::wstring& subkey)
{
    HKEY raw = nullptr;
    const LSTATUS status =
        RegCreateKeyExW(root.key, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | root.view, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) return {status, subkey};
    RegCloseKey(raw);
    return {};
}

RegistryResult delete_tree(const ClassesRoot& root, const std::wstring& subkey)
{
    // RegDeleteTreeW takes no view: open the key in the view, empty it, then delete it there.
    LSTATUS status = ERROR_SUCCESS;
    const KeyHandle key = open_key(
        root, subkey, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE, status);
    if (status == ERROR_FILE_NOT_FOUND) return {};
    if (status == ERROR_SUCCESS) status = RegDeleteTreeW(key.get(), nullptr);
    if (status == ERROR_SUCCESS) status = RegDeleteKeyExW(root.key, subkey.c_str(), root.view, 0);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return {};
    return {status, subkey};
}

std::optional<std::wstring> read_string(const ClassesRoot& root, const std::wstring& subkey,
                                        const wchar_t* name)
{
    LSTATUS status = ERROR_SUCCESS;
    const KeyHandle key = open_key(root, subkey, KEY_QUERY_VALUE, status);
    if (!key) return std::nullopt;
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, &type, nullptr, &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, &type, buffer.data(), &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(buffer.data());
}

bool key_exists(const ClassesRoot& root, const std::wstring& subkey)
{
    LSTATUS status = ERROR_SUCCESS;
    return open_key(root, subkey, KEY_READ, status) != nullptr;
}

std::vector<std::wstring> subkey_names(const ClassesRoot& root, const std::wstring& subkey)
{
    std::vector<std::wstring> names;
    LSTATUS status = ERROR_SUCCESS;
    const KeyHandle key = open_key(root, subkey, KEY_ENUMERATE_SUB_KEYS, status);
    if (!key) return names;
    wchar_t name[256];  // the longest key name the registry allows, with its terminator
    for (DWORD i = 0;; ++i) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return names;
        }
        names.emplace_back(name, length);
    }
}

}  // namespace registration
