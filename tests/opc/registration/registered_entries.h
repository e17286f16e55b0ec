// What the server's registration leaves in the registry, in the 64-bit and the 32-bit view: the
// expectations that opcreg's tests and the installer's end-to-end test share.
#pragma once

#include "registry_key.h"

#include <initializer_list>
#include <string>

inline const registration::ClassesRoot kView64(HKEY_CLASSES_ROOT, KEY_WOW64_64KEY);
inline const registration::ClassesRoot kView32(HKEY_CLASSES_ROOT, KEY_WOW64_32KEY);

extern const std::wstring kClassKey;            // CLSID\{server}
extern const std::wstring kProxyKey;            // CLSID\{proxy/stub factory}
extern const std::wstring kAppIdKey;            // AppID\{server}
extern const std::wstring kExecutableAppIdKey;  // AppID\OPCServer.exe

// True when either view has the key.
bool key_exists(const std::wstring& subkey);

// Every entry of one view: the class (with its AppID) started from `exe` and the interfaces
// routed to `proxy`, the proxy/stub DLL of that view's bitness, all but `routedElsewhere`
// (another vendor's).
void expect_registered_in_view(const registration::ClassesRoot& view, const std::wstring& exe,
                               const std::wstring& proxy, const IID* routedElsewhere = nullptr);

// Both ProgIDs naming the class (one key for both views).
void expect_prog_ids();

// The AppID (both views share it) that starts the server as the interactive user, and the
// server executable's entry naming it.
void expect_app_id();

// The descriptions of the OPC DA 1.0, 2.0 and 3.0 server categories.
void expect_category_descriptions();

// No class, proxy/stub factory, interface route, AppID or ProgID of ours in either view; the keys
// of the interfaces `routedElsewhere` are another vendor's.
void expect_nothing_registered(std::initializer_list<const IID*> routedElsewhere = {});
