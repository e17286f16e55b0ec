#include "opc/com/global_lock.h"

namespace {

CRITICAL_SECTION g_globalLock;

}  // namespace

void InitializeGlobalLock()
{
    InitializeCriticalSection(&g_globalLock);
}

void DeleteGlobalLock()
{
    DeleteCriticalSection(&g_globalLock);
}

void EnterGlobalLock()
{
    EnterCriticalSection(&g_globalLock);
}

void LeaveGlobalLock()
{
    LeaveCriticalSection(&g_globalLock);
}
