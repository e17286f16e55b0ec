// The registry entries that route every OPC custom interface (DA 1.0, DA 2.0 and Common) through our proxy/stub DLL.
#pragma once

#include "registry_key.h"

#include <windows.h>

#include <string>

namespace registration {

// Writes, under `classes`: CLSID\{proxy class}\InprocServer32 = dllPath (ThreadingModel Both)
// and, for each OPC interface, Interface\{IID} with its name and ProxyStubClsid32.
RegistryResult register_proxy(const ClassesRoot& classes, const std::wstring& dllPath);

// Removes our proxy class key and the Interface keys that still route to it; an interface that
// another vendor's proxy has registered since is left alone.
RegistryResult unregister_proxy(const ClassesRoot& classes);

}  // namespace registration
