#pragma once
#include <objbase.h>
#include <wrl/client.h>

#include "opc/com/enumerator.h"
#include "opc/server/group_table.h"

// Objects: counted references, taken at construction; Next hands out another reference.
struct ObjectElements : HandedOutOneByOne<ObjectElements> {
    using Interface = IEnumUnknown;
    using Item = IUnknown*;
    using Source = IUnknown*;
    using Stored = Microsoft::WRL::ComPtr<IUnknown>;

    static Stored Keep(Source object) { return Stored(object); }
    static Source View(const Stored& object) { return object.Get(); }
    static Item HandOut(const Stored& object, IMalloc*)
    {
        if (object) object->AddRef();
        return object.Get();
    }
};

using ObjectEnumerator = Enumerator<ObjectElements>;

// An object enumerator owned by `owner` over the groups of `list`, handed out as `riid`.
HRESULT CreateGroupObjectEnumerator(IUnknown* owner, const GroupList& list, REFIID riid,
                                    void** ppv);
