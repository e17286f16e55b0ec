/* DLL entry points of the proxy/stub DLL (DllGetClassObject, DllCanUnloadNow and, with
 * REGISTER_PROXY_DLL, DllRegisterServer/DllUnregisterServer), under our own factory class. */
#include "server_identity.h"

#define PROXY_CLSID_IS PARHELIONIX_OPC_PROXY_CLSID_INIT
#include "dlldata.c"
