// Small registry helpers for writing and removing COM registrations under a classes root.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace registration {

// The outcome of a registry change: the first failure and the key it happened on.
struct RegistryResult {
    LSTATUS status = ERROR_SUCCESS;
    std::wstring key;

    bool ok() const { return status == ERROR_SUCCESS; }
};

// A classes root and the registry view to use under it. On 64-bit Windows the CLSID and
// Interface keys differ between the 64-bit view (KEY_WOW64_64KEY) and the 32-bit view
// (KEY_WOW64_32KEY), while ProgID keys are shared by both; a view of 0 is the calling program's
// own, and a plain HKEY converts to that.
struct ClassesRoot {
    ClassesRoot(HKEY key, REGSAM view = 0) : key(key), view(view) {}

    HKEY key;
    REGSAM view;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", the form COM keys use.
std::wstring guid_text(const GUID& guid);

// Creates `subkey` (and its parents) and sets one REG_SZ value; a null name is the default value.
RegistryResult set_string(const ClassesRoot& root, const std::wstring& subkey, const wchar_t* name,
                          const std::wstring& value);

// Creates an empty key (e.g. an implemented category).
RegistryResult create_key(const ClassesRoot& root, const std::wstring& subkey);

// Removes `subkey` with everything under it; a key that is not there is no failure.
RegistryResult delete_tree(const ClassesRoot& root, const std::wstring& subkey);

// A REG_SZ value, or nothing when the key or value is absent or not a string.
std::optional<std::wstring> read_string(const ClassesRoot& root, const std::wstring& subkey,
                                        const wchar_t* name);

bool key_exists(const ClassesRoot& root, const std::wstring& subkey);

// The names of the keys directly under `subkey`; none when it cannot be opened.
std::vector<std::wstring> subkey_names(const ClassesRoot& root, const std::wstring& subkey);

}  // namespace registration
