#include "server_class_registration.h"

#include "opc_da.h"

namespace registration {
namespace {

struct Category {
    const GUID* catid;
    const wchar_t* text;
};

// The categories the class implements: it serves every version of the interfaces.
const Category kCategories[] = {{&CATID_OPCDAServer10, kOpcDa10CategoryText},
                                {&CATID_OPCDAServer20, kOpcDa20CategoryText},
                                {&CATID_OPCDAServer30, kOpcDa30CategoryText}};

// Both ProgID keys name the class; CurVer only under the version-independent one.
RegistryResult register_prog_id(const ClassesRoot& classes, const ServerClass& server,
                                const std::wstring& progId, const std::wstring& curVer)
{
    RegistryResult result = set_string(classes, progId, nullptr, server.name);
    if (result.ok())
        result = set_string(classes, progId + L"\\CLSID", nullptr, guid_text(server.clsid));
    if (result.ok() && !curVer.empty())
        result = set_string(classes, progId + L"\\CurVer", nullptr, curVer);
    return result;
}

// A ProgID that another class has taken over since is left to that class. Removed from both
// views: Wine keeps a ProgID written through the 32-bit view apart.
RegistryResult unregister_prog_id(HKEY classes, const ServerClass& server,
                                  const std::wstring& progId)
{
    RegistryResult result;
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        const auto named = read_string({classes, view}, progId + L"\\CLSID", nullptr);
        if (named && _wcsicmp(named->c_str(), guid_text(server.clsid).c_str()) != 0) continue;
        if (result.ok()) result = delete_tree({classes, view}, progId);
    }
    return result;
}

// The AppID lets DCOM start the server for clients on other machines as the user logged on at
// the console: started in a service's window station instead, it would find neither the
// Viewer's window nor its shared area. The AppID is the class's own CLSID, so it needs no
// identity of its own. The executable's entry (its file name) ties the running server to it.
RegistryResult register_app_id(const ClassesRoot& shared, const ServerClass& server,
                               const std::wstring& exePath)
{
    const std::wstring appId = guid_text(server.clsid);
    const std::wstring exeName = exePath.substr(exePath.find_last_of(L"\\/") + 1);
    RegistryResult result = set_string(shared, L"AppID\\" + appId, nullptr, server.name);
    if (result.ok())
        result = set_string(shared, L"AppID\\" + appId, L"RunAs", kRunAsInteractiveUser);
    if (result.ok()) result = set_string(shared, L"AppID\\" + exeName, L"AppID", appId);
    return result;
}

// Removes the AppID and every executable entry that still names it (another vendor's server may
// have the same file name and its own AppID), from both views as for the ProgIDs.
RegistryResult unregister_app_id(HKEY classes, const ServerClass& server)
{
    const std::wstring appId = guid_text(server.clsid);
    RegistryResult result;
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        for (const std::wstring& entry : subkey_names({classes, view}, L"AppID")) {
            const auto named = read_string({classes, view}, L"AppID\\" + entry, L"AppID");
            if (result.ok() && named && _wcsicmp(named->c_str(), appId.c_str()) == 0)
                result = delete_tree({classes, view}, L"AppID\\" + entry);
        }
        if (result.ok()) result = delete_tree({classes, view}, L"AppID\\" + appId);
    }
    return result;
}

}  // namespace

RegistryResult register_server_class(const ClassesRoot& classes, const ServerClass& server,
                                     const std::wstring& exePath)
{
    const std::wstring classKey = L"CLSID\\" + guid_text(server.clsid);
    // COM appends " -Embedding" to this command line: the quotes keep a path with spaces whole.
    RegistryResult result = set_string(classes, classKey, nullptr, server.name);
    if (result.ok()) result = set_string(classes, classKey, L"AppID", guid_text(server.clsid));
    if (result.ok())
        result =
            set_string(classes, classKey + L"\\LocalServer32", nullptr, L"\"" + exePath + L"\"");
    if (result.ok()) result = set_string(classes, classKey + L"\\ProgID", nullptr, server.progId);
    if (result.ok())
        result = set_string(classes, classKey + L"\\VersionIndependentProgID", nullptr,
                            server.versionIndependentProgId);
    for (const Category& category : kCategories) {
        if (result.ok())
            result = create_key(
                classes, classKey + L"\\Implemented Categories\\" + guid_text(*category.catid));
    }
    // ProgIDs, AppIDs and category descriptions are one key for both views on Windows; Wine would keep
    // what a 64-bit program writes through the 32-bit view apart, so they go through the 64-bit
    // one, where 32-bit readers find them too.
    const ClassesRoot shared(classes.key, KEY_WOW64_64KEY);
    if (result.ok()) result = register_prog_id(shared, server, server.progId, L"");
    if (result.ok())
        result = register_prog_id(shared, server, server.versionIndependentProgId, server.progId);
    if (result.ok()) result = register_app_id(shared, server, exePath);
    for (const Category& category : kCategories) {
        if (result.ok())
            result = set_string(shared, L"Component Categories\\" + guid_text(*category.catid),
                                L"409", category.text);
    }
    return result;
}

RegistryResult unregister_server_class(const ClassesRoot& classes, const ServerClass& server)
{
    const std::wstring classKey = L"CLSID\\" + guid_text(server.clsid);
    RegistryResult result = delete_tree(classes, classKey);
    // The ProgID and AppID keys are shared by both views: while the other view still has the class they
    // stay, so that it is not left half registered.
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        if (result.ok() && key_exists({classes.key, view}, classKey)) return result;
    }
    if (result.ok()) result = unregister_prog_id(classes.key, server, server.progId);
    if (result.ok())
        result = unregister_prog_id(classes.key, server, server.versionIndependentProgId);
    if (result.ok()) result = unregister_app_id(classes.key, server);
    return result;
}

}  // namespace registration
