#pragma once
// Every enumerator alive that follows an owner's reference count, by owner. A client that dies
// holding an enumerator never releases it (Wine runs no DCOM ping), and through it the owner:
// reclaiming that client's objects disconnects their enumerators from their stubs as well.
// Main thread only, as every object of the server.
#include <unknwn.h>

// Enumerators register at construction and leave at destruction. An enumerator that cannot be
// recorded for want of memory still works; it is only not found by the disconnection.
void RecordOwnedEnumerator(IUnknown* enumerator, IUnknown* owner);
void ForgetOwnedEnumerator(IUnknown* enumerator);
// Disconnects every enumerator of `owner` from its stub, dropping the references its clients
// hold; each is kept alive for its own disconnection.
void DisconnectEnumeratorsOf(IUnknown* owner);
