// The server's registration for clients of both bitnesses on 64-bit Windows: in the 64-bit and
// in the 32-bit registry view, the class (COM starts the 64-bit server for either) and the
// interfaces' routes to the proxy/stub DLL of that view's bitness.
#pragma once

#include "registry_key.h"
#include "server_class_registration.h"

#include <string>

namespace registration {

struct InstalledFiles {
    std::wstring serverExe;  // the 64-bit OPCServer.exe
    std::wstring proxy64;    // the 64-bit opc_proxy.dll
    std::wstring proxy32;    // the 32-bit opc_proxy.dll
};

// Writes the class and the proxy routes into both views of `classes`. On a failure removes what
// it wrote, so that nothing stays half registered, and returns that failure.
RegistryResult register_in_both_views(HKEY classes, const ServerClass& server,
                                      const InstalledFiles& files);

// Removes the class and the proxy routes from both views, leaving another vendor's entries.
RegistryResult unregister_from_both_views(HKEY classes, const ServerClass& server);

// Removes from both views only the interface routes that still name our proxy class: what the
// installer's uninstall leaves to opcreg, since the installer alone would remove a route another
// vendor's proxy has taken since the install.
RegistryResult unregister_routes_from_both_views(HKEY classes);

}  // namespace registration
