#include "opc/com/connection_enumerators.h"

HRESULT ConnectionElements::Next(EnumeratorCursor<Stored> cursor, ULONG celt, Item* rgelt,
                                 ULONG* pceltFetched)
{
    if (celt > 0 && !rgelt) return E_POINTER;
    if (pceltFetched) *pceltFetched = 0;
    if (!pceltFetched && celt != 1) return E_POINTER;
    ULONG fetched = 0;
    while (cursor.elements && cursor.position < cursor.count && fetched < celt) {
        const Stored& connection = cursor.elements[cursor.position++];
        if (connection.sink) connection.sink->AddRef();
        rgelt[fetched++] = {connection.sink.Get(), connection.cookie};
    }
    if (pceltFetched) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}
