// The registry entries that let COM start an OPC DA 1.0 server executable for its class and let
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

// The text of the OPC DA 1.0 server category, registered under "Component Categories".
inline constexpr wchar_t kOpcDa10CategoryText[] = L"OPC Data Access Servers Version 1.0";

// Writes, under `classes`: CLSID\{clsid} with LocalServer32 (the quoted executable path),
// ProgID, VersionIndependentProgID and the implemented category CATID_OPCDAServer10; both
// ProgID keys with their CLSID (and CurVer); the category's description.
RegistryResult register_server_class(HKEY classes, const ServerClass& server,
                                     const std::wstring& exePath);

// Removes the class key and the ProgID keys that name this class. The category description
// stays: it is shared by every OPC DA 1.0 server on the machine.
RegistryResult unregister_server_class(HKEY classes, const ServerClass& server);

}  // namespace registration
