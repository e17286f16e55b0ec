#pragma once
// Calls a churning client makes, each freeing everything the server hands back; shared by the
// leak probe and the soak.
#include <windows.h>

#include <vector>

#include "opc_da.h"

// Frees AddItems' or ValidateItems' results (their blobs too) and errors.
void FreeResults(DWORD count, OPCITEMRESULT* results, HRESULT* errors);
// Opens an item attribute enumerator and takes up to `count` records with one Next.
bool EnumerateAttributes(IOPCItemMgt* items, ULONG count);
// One synchronous cache Read of the items.
bool ReadValues(IOPCSyncIO* io, std::vector<OPCHANDLE>& handles);
