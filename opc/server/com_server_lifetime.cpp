#include "opc/server/com_server_lifetime.h"

#include <objbase.h>
#include <wrl/client.h>

#include <new>

#include "opc/com/global_lock.h"
#include "opc/com/task_memory.h"
#include "opc/datachange/client_delivery.h"
#include "opc/server/caller_process.h"
#include "opc/server/class_factory.h"
#include "opc/server/interface_registration_keeper.h"
#include "opc/server/server_table.h"
#include "opc/server/shutdown_notice.h"
#include "server_identity.h"

FILETIME g_serverStartTime = {};
bool g_comStarted = false;
DWORD g_registrationCookie = 0;

namespace {

bool g_comInitialized = false;
// A live client answers a release at once; a frozen one is not waited for longer.
constexpr DWORD kEndingDeliveriesWaitMs = 1000;

void RegisterClassObject()
{
    Microsoft::WRL::ComPtr<IClassFactory> factory(new (std::nothrow) ServerClassFactory);
    if (!factory) return;
    WatchClassFactoryCallers(factory.Get());
    // COM keeps its own reference; ours goes with `factory`, so a failed registration
    // destroys the factory once its watching stub has gone too.
    const HRESULT hr =
        CoRegisterClassObject(CLSID_ParhelionixOPCServer, factory.Get(), CLSCTX_LOCAL_SERVER,
                              REGCLS_MULTIPLEUSE, &g_registrationCookie);
    if (FAILED(hr)) {
        g_registrationCookie = 0;
        StopWatchingClassFactoryCallers();
#ifndef NDEBUG
        OutputDebugStringW(L"没有成功注册类厂！\n");
#endif
        return;
    }
    CoGetMalloc(MEMCTX_TASK, &g_taskAllocator);
    CoFileTimeNow(&g_serverStartTime);
    ClearServerTable();
}

}  // namespace

void StartComServer()
{
    InitializeGlobalLock();
    g_comInitialized = SUCCEEDED(CoInitialize(nullptr));
    if (g_comInitialized) {
        KeepInterfacesRegistered();
        RegisterClassObject();
    }
    g_comStarted = true;
}

void StopComServer()
{
    if (!g_comStarted) return;
    CoRevokeClassObject(g_registrationCookie);  // the result changes nothing at exit
    g_registrationCookie = 0;
    StopWatchingClassFactoryCallers();
    ReleaseInterfaceKeeper();
    // Only a successful CoInitialize is balanced. Ending COM releases the objects that clients
    // still hold, whose destruction takes the global lock: it goes last. Left out while a
    // client is frozen in its shutdown notice (see ShutdownNoticePending): the process ends
    // all the same, and with it everything COM held.
    if (g_comInitialized && !ShutdownNoticePending()) CoUninitialize();
    // The clients' objects are gone: their delivery threads let go of the clients' sinks.
    WaitForEndingDeliveries(kEndingDeliveriesWaitMs);
    g_comInitialized = false;
    if (g_taskAllocator) {
        g_taskAllocator->Release();
        g_taskAllocator = nullptr;
    }
    DeleteGlobalLock();
    g_comStarted = false;
}
