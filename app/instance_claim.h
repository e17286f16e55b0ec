#pragma once
#include <windows.h>

// Of the copies of OPCServer.exe started at the same time (COM may start one for each client
// that activates the server while none serves yet), the one holding the named claim for its
// whole life serves. It announces its registered class object through a named event, so that a
// copy COM started for a client can end only once that client can reach the serving copy:
// Wine's activation gives up on its client when the copy it started ends before the class
// object is there. Both named objects live in the session's namespace ("Local\\"), are named
// after the server's class identifier, so that no other program takes their names by chance,
// and only the current user and SYSTEM may open them.
class InstanceClaim {
public:
    InstanceClaim() = default;
    ~InstanceClaim();
    InstanceClaim(const InstanceClaim&) = delete;
    InstanceClaim& operator=(const InstanceClaim&) = delete;

    // True when this copy is to serve: it took the claim, at once or once the copy holding it
    // ended without serving. False when another copy serves: a copy started by hand learns that
    // at once; a copy started by COM waits until the other copy's class object is registered
    // (and Wine's activation has looked for it again) or at most `waitMs`.
    bool Take(bool startedByCom, DWORD waitMs);
    // The class object is registered / about to be revoked; nothing unless the claim is held.
    void AnnounceClassObject();
    void WithdrawClassObject();
    // Gives the claim up, on the thread that took it; done by the destructor too.
    void Release();

private:
    HANDLE m_claim = nullptr;
    HANDLE m_classObject = nullptr;
    bool m_held = false;
};
