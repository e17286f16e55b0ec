#pragma once
#include <windows.h>

// The one process-wide lock: re-entrant on its thread, so that a group's destruction may enter
// it again inside a server's destruction or RemoveGroup. It serialises the teardown of group and
// item tables against the update pass. COM start-up initialises it and COM shutdown deletes it.
void InitializeGlobalLock();
void DeleteGlobalLock();
void EnterGlobalLock();
void LeaveGlobalLock();

// Holds the global lock for the life of a scope.
class GlobalLockScope {
public:
    GlobalLockScope() { EnterGlobalLock(); }
    ~GlobalLockScope() { LeaveGlobalLock(); }
    GlobalLockScope(const GlobalLockScope&) = delete;
    GlobalLockScope& operator=(const GlobalLockScope&) = delete;
};
