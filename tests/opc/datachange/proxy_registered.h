#pragma once

#include <gtest/gtest.h>

#include "proxy_registration.h"
#include "server_identity.h"
#include "tests/support/beside_this_program.h"

// opc_proxy.dll registered while it lives: IOPCDataCallback has no proxy of the system's.
class ProxyRegistered {
public:
    ProxyRegistered()
    {
        EXPECT_TRUE(
            registration::register_proxy(HKEY_CLASSES_ROOT, BesideThisProgram(kProxyDllName)).ok());
    }
    ~ProxyRegistered() { EXPECT_TRUE(registration::unregister_proxy(HKEY_CLASSES_ROOT).ok()); }
    ProxyRegistered(const ProxyRegistered&) = delete;
    ProxyRegistered& operator=(const ProxyRegistered&) = delete;
};
