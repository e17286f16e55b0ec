#include "opc/server/object_enumerator.h"

#include "opc/group/group_object.h"

HRESULT CreateGroupObjectEnumerator(IUnknown* owner, const GroupList& list, REFIID riid, void** ppv)
{
    IUnknown* groups[kGroupSlots];
    for (ULONG i = 0; i < list.count; ++i) groups[i] = list.groups[i];
    return ObjectEnumerator::Create(owner, list.count, groups, riid, ppv);
}
