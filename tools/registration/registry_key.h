// Small registry helpers for writing and removing COM registrations under a classes root.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace registration {

// The outcome of a registry change: the first failure and the key it happened on.
struct RegistryResult {
    LSTATUS status = ERROR_SUCCESS;
    std::wstring key;

    bool ok() const { return status == ERROR_SUCCESS; }
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", the form COM keys use.
std::wstring guid_text(const GUID& guid);

// Creates `subkey` (and its parents) and sets one REG_SZ value; a null name is the default value.
RegistryResult set_string(HKEY root, const std::wstring& subkey, const wchar_t* name,
                          const std::wstring& value);

// Creates an empty key (e.g. an implemented category).
RegistryResult create_key(HKEY root, const std::wstring& subkey);

// Removes `subkey` with everything under it; a key that is not there is no failure.
RegistryResult delete_tree(HKEY root, const std::wstring& subkey);

// A REG_SZ value, or nothing when the key or value is absent or not a string.
std::optional<std::wstring> read_string(HKEY root, const std::wstring& subkey, const wchar_t* name);

}  // namespace registration
