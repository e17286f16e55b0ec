#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <memory>

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

// IEnumOPCItemAttributes over the attributes of a group's items as they were when it was made.
// It keeps the group alive: every reference it receives adds one to the group.
class ItemAttributeEnumerator final : public IEnumOPCItemAttributes {
public:
    // A new enumerator over the group's items of this moment, in ascending server-handle
    // order, handed out through its QueryInterface(riid); destroyed again when that fails.
    static HRESULT Create(GroupObject& group, REFIID riid, void** ppv);

    ItemAttributeEnumerator(const ItemAttributeEnumerator&) = delete;
    ItemAttributeEnumerator& operator=(const ItemAttributeEnumerator&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                   ULONG* pceltFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) override;

private:
    // Copies `count` records; a null `records` (a source without any) gives none.
    ItemAttributeEnumerator(GroupObject& group, const ItemAttributes* records, ULONG count,
                            IMalloc* allocator);
    ~ItemAttributeEnumerator() = default;

    LONG m_refCount = 0;
    GroupObject& m_group;
    ULONG m_cursor = 0;
    ULONG m_count;
    // Null when the copy could not be made: the enumerator then yields nothing.
    std::unique_ptr<ItemAttributes[]> m_records;
    Microsoft::WRL::ComPtr<IMalloc> m_allocator;
};
