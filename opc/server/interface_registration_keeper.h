#pragma once
#include <windows.h>

// Keeps every interface the server exports registered with the RPC runtime while COM runs.
// Wine registers an interface with RPC when the apartment makes the first stub of it and
// unregisters it when the last such stub goes, waiting for the interface's calls to complete;
// that wait can miss the end of a call that finishes at the same moment and then never returns,
// so the main thread would hang in a client's Release. One keeper object, marshalled table-strong
// once per interface, holds a stub of each: the last stub of an interface never goes while COM
// runs. The keeper is no server object: it takes no server-table entry and counts as no client.

// Made once on the main thread after COM start-up. An interface whose marshalling fails (no
// proxy/stub registered, so no client can reach it either) is left out.
void KeepInterfacesRegistered();
// Disconnects and releases the keeper before COM ends; disconnecting unregisters without waiting.
void ReleaseInterfaceKeeper();
