#pragma once
// The enumerators of connection points and of their connections: IEnumConnectionPoints and
// IEnumConnections over snapshots of counted references.
#include <wrl/client.h>
#include <ocidl.h>

#include "opc/com/enumerator.h"

// Connection points: Next hands out another reference to each.
struct ConnectionPointElements : HandedOutOneByOne<ConnectionPointElements> {
    using Interface = IEnumConnectionPoints;
    using Item = IConnectionPoint*;
    using Source = IConnectionPoint*;
    using Stored = Microsoft::WRL::ComPtr<IConnectionPoint>;

    static Stored Keep(Source point) { return Stored(point); }
    static Source View(const Stored& point) { return point.Get(); }
    static Item HandOut(const Stored& point, IMalloc*)
    {
        if (point) point->AddRef();
        return point.Get();
    }
};

using ConnectionPointEnumerator = Enumerator<ConnectionPointElements>;

// Connections: each CONNECTDATA handed out carries another reference to its sink, the
// client's to release.
struct ConnectionElements {
    using Interface = IEnumConnections;
    using Item = CONNECTDATA;
    using Source = CONNECTDATA;
    struct Stored {
        Microsoft::WRL::ComPtr<IUnknown> sink;
        DWORD cookie = 0;
    };

    static Stored Keep(const Source& connection) { return {connection.pUnk, connection.dwCookie}; }
    static Source View(const Stored& connection)
    {
        return {connection.sink.Get(), connection.cookie};
    }
    static HRESULT Next(EnumeratorCursor<Stored> cursor, ULONG celt, Item* rgelt,
                        ULONG* pceltFetched);
};

using ConnectionEnumerator = Enumerator<ConnectionElements>;
