#include "opc/group/item_attribute_enumerator.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "opc/group/group_object.h"
#include "opc/items/item_object.h"

namespace {

wchar_t* ClientStringCopy(const HeapString& text, IMalloc* allocator)
{
    if (!text || !allocator) return nullptr;
    const size_t bytes = (std::wcslen(text.get()) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(allocator->Alloc(bytes));
    if (copy) std::memcpy(copy, text.get(), bytes);
    return copy;
}

}  // namespace

ItemAttributes ItemAttributeElements::Keep(const ItemAttributes& source)
{
    return ItemAttributes{CopyHeapString(source.accessPath.get()),
                          CopyHeapString(source.itemId.get()),
                          source.active,
                          source.clientHandle,
                          source.serverHandle,
                          source.requestedType,
                          source.canonicalType};
}

HRESULT ItemAttributeElements::Next(EnumeratorCursor<Stored> cursor, ULONG celt,
                                    OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched)
{
    if (!ppItemArray) return E_POINTER;
    if (pceltFetched) *pceltFetched = 0;
    *ppItemArray = nullptr;
    if (!cursor.elements) return S_FALSE;
    if (!pceltFetched && celt != 1) return E_POINTER;
    if (cursor.position >= cursor.count || !cursor.allocator) return S_FALSE;
    auto* block = static_cast<OPCITEMATTRIBUTES*>(
        cursor.allocator->Alloc(static_cast<size_t>(celt) * sizeof(OPCITEMATTRIBUTES)));
    if (!block) return S_FALSE;

    ULONG fetched = 0;
    while (fetched < celt && cursor.position < cursor.count) {
        const ItemAttributes& record = cursor.elements[cursor.position++];
        OPCITEMATTRIBUTES& out = block[fetched++];
        out = OPCITEMATTRIBUTES{};
        out.szAccessPath = ClientStringCopy(record.accessPath, cursor.allocator);
        out.szItemID = ClientStringCopy(record.itemId, cursor.allocator);
        out.bActive = record.active;
        out.hClient = record.clientHandle;
        out.hServer = record.serverHandle;
        out.dwAccessRights = kItemAccessRights;
        out.vtRequestedDataType = record.requestedType;
        out.vtCanonicalDataType = record.canonicalType;
        out.dwEUType = OPC_NOENUM;
        VariantInit(&out.vEUInfo);
    }
    if (fetched < celt) {
        // Shrinking never fails in practice; were it to, the larger block serves as well.
        void* shrunk = cursor.allocator->Realloc(block, fetched * sizeof(OPCITEMATTRIBUTES));
        if (shrunk) block = static_cast<OPCITEMATTRIBUTES*>(shrunk);
    }
    *ppItemArray = block;
    if (pceltFetched) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

HRESULT CreateItemAttributeEnumerator(GroupObject& group, REFIID riid, void** ppv)
{
    std::vector<ItemAttributes> snapshot;
    try {
        group.Items().ForEach([&snapshot](const ItemObject& item) {
            snapshot.push_back(ItemAttributes{CopyHeapString(item.AccessPath()),
                                              CopyHeapString(item.ItemId()), item.Active(),
                                              item.ClientHandle(), item.ServerHandle(),
                                              item.RequestedType(), item.CanonicalType()});
        });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return ItemAttributeEnumerator::Create(&group, static_cast<ULONG>(snapshot.size()),
                                           snapshot.data(), riid, ppv);
}
