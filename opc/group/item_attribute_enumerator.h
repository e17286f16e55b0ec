#pragma once
#include <windows.h>

#include "opc/com/enumerator.h"
#include "opc/com/heap_string.h"
#include "opc_da.h"

class GroupObject;

// What the enumerator keeps of one item; the strings are its own copies.
struct ItemAttributes {
    HeapString accessPath;
    HeapString itemId;
    BOOL active;
    OPCHANDLE clientHandle;
    OPCHANDLE serverHandle;
    VARTYPE requestedType;
    VARTYPE canonicalType;
};

// Item attributes: private records; Next hands out one task-allocator block of records whose
// strings the client frees.
struct ItemAttributeElements {
    using Interface = IEnumOPCItemAttributes;
    using Item = OPCITEMATTRIBUTES*;
    using Source = ItemAttributes;
    using Stored = ItemAttributes;

    // A record's copy, or one whose strings are null when they cannot be had.
    static Stored Keep(const Source& record);
    static const Source& View(const Stored& record) { return record; }
    static HRESULT Next(EnumeratorCursor<Stored> cursor, ULONG celt,
                        OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched);
};

// IEnumOPCItemAttributes over the attributes of a group's items as they were when it was made.
// It keeps the group alive: every reference it receives adds one to the group.
using ItemAttributeEnumerator = Enumerator<ItemAttributeElements>;

// A new enumerator over the group's items of this moment, in ascending server-handle order,
// handed out through its QueryInterface(riid); destroyed again when that fails.
HRESULT CreateItemAttributeEnumerator(GroupObject& group, REFIID riid, void** ppv);
