// The registry entries that let COM start an OPC DA server executable for its class and let
// clients find it by programmatic identifier and by component category.
#pragma once

#include "registry_key.h"

#include <windows.h>

#include <string>

namespace registration {

struct ServerClass {
    CLSID clsid;
    std::wstring name;                      // readable name, the class key's default value
    std::wstring progId;                    // e.g. "Parhelionix.OPCServer.1"
    std::wstring versionIndependentProgId;  // e.g. "Parhelionix.OPCServer"
};

// The texts of the OPC DA server categories, registered under "Component Categories".
inline constexpr wchar_t kOpcDa10CategoryText[] = L"OPC Data Access Servers Version 1.0";
inline constexpr wchar_t kOpcDa20CategoryText[] = L"OPC Data Access Servers Version 2.0";
inline constexpr wchar_t kOpcDa30CategoryText[] = L"OPC Data Access Servers Version 3.0";
// The AppID's RunAs: COM starts the server in the session of the user logged on at the console.
inline constexpr wchar_t kRunAsInteractiveUser[] = L"Interactive User";

// Writes, under `classes` in its view: CLSID\{clsid} with its AppID (the CLSID itself),
// LocalServer32 (the quoted executable path), ProgID, VersionIndependentProgID and the implemented
// categories CATID_OPCDAServer10, 20 and 30; and what both views share: both ProgID keys with
// their CLSID (and CurVer), AppID\{clsid} (the name, RunAs "Interactive User"),
// AppID\<executable's file name> naming it, and the categories' descriptions.
RegistryResult register_server_class(const ClassesRoot& classes, const ServerClass& server,
                                     const std::wstring& exePath);

// Removes the class key from the root's view, and the ProgID and AppID keys that name this
// class once neither view has the class any more. The category descriptions stay: they are shared by every
// OPC DA server on the machine.
RegistryResult unregister_server_class(const ClassesRoot& classes, const ServerClass& server);

}  // namespace registration
