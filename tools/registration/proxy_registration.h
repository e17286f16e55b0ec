// The registry entries that route every OPC custom interface (DA 1.0, 2.0, 3.0 and Common) through our proxy/stub DLL.
#pragma once

#include "registry_key.h"

#include <windows.h>

#include <string>

namespace registration {

// Writes, under `classes`: CLSID\{proxy class}\InprocServer32 = dllPath (ThreadingModel Both)
// and, for each OPC interface, Interface\{IID} with its name and ProxyStubClsid32.
RegistryResult register_proxy(const ClassesRoot& classes, const std::wstring& dllPath);

// Removes the Interface keys that still route to our proxy class; an interface that another
// vendor's proxy has registered since is left alone.
RegistryResult unregister_routes(const ClassesRoot& classes);

// Removes those routes and our proxy class key.
RegistryResult unregister_proxy(const ClassesRoot& classes);

}  // namespace registration
