// Who this server is to COM: its class, its programmatic identifiers and the class of the
// proxy/stub factory that carries the OPC interfaces across processes.
#pragma once

#include <guiddef.h>

// {A6B3AAE6-8850-4700-8188-7B135685DC4D}
#define PARHELIONIX_OPC_SERVER_CLSID_INIT                  \
    {                                                      \
        0xa6b3aae6, 0x8850, 0x4700,                        \
        {                                                  \
            0x81, 0x88, 0x7b, 0x13, 0x56, 0x85, 0xdc, 0x4d \
        }                                                  \
    }

// {8D13E1F7-9DC9-4DC7-85FD-804E04C45C00}: our own proxy/stub factory class, distinct from any
// other vendor's, so that unregistering this server never removes another vendor's proxy.
#define PARHELIONIX_OPC_PROXY_CLSID_INIT                   \
    {                                                      \
        0x8d13e1f7, 0x9dc9, 0x4dc7,                        \
        {                                                  \
            0x85, 0xfd, 0x80, 0x4e, 0x04, 0xc4, 0x5c, 0x00 \
        }                                                  \
    }

#ifdef __cplusplus
inline constexpr CLSID CLSID_ParhelionixOPCServer = PARHELIONIX_OPC_SERVER_CLSID_INIT;
inline constexpr CLSID CLSID_ParhelionixOPCProxy = PARHELIONIX_OPC_PROXY_CLSID_INIT;

inline constexpr wchar_t kServerClassName[] = L"Parhelionix OPC Server";
inline constexpr wchar_t kServerProgId[] = L"Parhelionix.OPCServer.1";
inline constexpr wchar_t kServerVersionIndependentProgId[] = L"Parhelionix.OPCServer";
// File name of the proxy/stub DLL, installed beside the server executable.
inline constexpr wchar_t kProxyDllName[] = L"opc_proxy.dll";
#endif
