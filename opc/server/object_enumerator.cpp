#include "opc/server/object_enumerator.h"

#include <new>
#include <vector>

#include "opc/group/group_object.h"

HRESULT CreateGroupObjectEnumerator(IUnknown* owner, const GroupList& list, REFIID riid, void** ppv)
{
    std::vector<IUnknown*> groups;
    try {
        groups.assign(list.begin(), list.end());
    } catch (const std::bad_alloc&) {
        if (ppv) *ppv = nullptr;
        return E_OUTOFMEMORY;
    }
    return ObjectEnumerator::Create(owner, static_cast<ULONG>(groups.size()), groups.data(), riid,
                                    ppv);
}
