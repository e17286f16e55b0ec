#include "both_views_registration.h"

#include "proxy_registration.h"

namespace registration {

RegistryResult register_in_both_views(HKEY classes, const ServerClass& server,
                                      const InstalledFiles& files)
{
    const ClassesRoot view64(classes, KEY_WOW64_64KEY);
    const ClassesRoot view32(classes, KEY_WOW64_32KEY);
    RegistryResult result = register_proxy(view64, files.proxy64);
    if (result.ok()) result = register_proxy(view32, files.proxy32);
    if (result.ok()) result = register_server_class(view64, server, files.serverExe);
    if (result.ok()) result = register_server_class(view32, server, files.serverExe);
    if (!result.ok()) unregister_from_both_views(classes, server);
    return result;
}

RegistryResult unregister_from_both_views(HKEY classes, const ServerClass& server)
{
    RegistryResult result;
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        const ClassesRoot root(classes, view);
        const RegistryResult classResult = unregister_server_class(root, server);
        const RegistryResult proxyResult = unregister_proxy(root);
        // Carry on through every view; report the first failure.
        if (result.ok()) result = classResult.ok() ? proxyResult : classResult;
    }
    return result;
}

RegistryResult unregister_routes_from_both_views(HKEY classes)
{
    RegistryResult result = unregister_routes({classes, KEY_WOW64_64KEY});
    if (result.ok()) result = unregister_routes({classes, KEY_WOW64_32KEY});
    return result;
}

}  // namespace registration
