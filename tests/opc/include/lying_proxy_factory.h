// The lying proxy's class factory (see lie_about_in_array_sizes.cmake): a proxy/stub factory
// for every OPC interface, under a class of its own that no registry knows.
#pragma once

#include <objbase.h>

#ifdef __cplusplus
extern "C" {
#endif

extern const CLSID CLSID_LyingOpcProxy;

// The factory (an IPSFactoryBuffer), for CoRegisterClassObject under CLSID_LyingOpcProxy.
HRESULT lying_proxy_factory(IUnknown** factory);

#ifdef __cplusplus
}
#endif
