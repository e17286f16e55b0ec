#include "opc/group/item_attribute_enumerator.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "opc/group/group_object.h"
#include "opc/items/item_object.h"
#include "opc/com/task_memory.h"

namespace {

// A record's copy, or one whose strings are null when they cannot be had.
ItemAttributes CopyOf(const ItemAttributes& source)
{
    return ItemAttributes{CopyHeapString(source.accessPath.get()),
                          CopyHeapString(source.itemId.get()),
                          source.active,
                          source.clientHandle,
                          source.serverHandle,
                          source.requestedType,
                          source.canonicalType};
}

wchar_t* ClientStringCopy(const HeapString& text, IMalloc* allocator)
{
    if (!text || !allocator) return nullptr;
    const size_t bytes = (std::wcslen(text.get()) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(allocator->Alloc(bytes));
    if (copy) std::memcpy(copy, text.get(), bytes);
    return copy;
}

}  // namespace

ItemAttributeEnumerator::ItemAttributeEnumerator(GroupObject& group,
                                                 const ItemAttributes* records, ULONG count,
                                                 IMalloc* allocator)
    : m_group(group), m_count(count), m_allocator(allocator)
{
    if (!records && count != 0) return;
    m_records.reset(new (std::nothrow) ItemAttributes[m_count]);
    if (!m_records) return;
    for (ULONG i = 0; i < m_count; ++i) m_records[i] = CopyOf(records[i]);
}

HRESULT ItemAttributeEnumerator::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IEnumOPCItemAttributes) return E_NOINTERFACE;
    *ppv = static_cast<IEnumOPCItemAttributes*>(this);
    AddRef();
    return S_OK;
}

ULONG ItemAttributeEnumerator::AddRef()
{
    m_group.AddRef();
    return static_cast<ULONG>(++m_refCount);
}

ULONG ItemAttributeEnumerator::Release()
{
    // The group first: this enumerator may be gone once its own count reaches 0.
    m_group.Release();
    const LONG count = --m_refCount;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT ItemAttributeEnumerator::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                      ULONG* pceltFetched)
{
    if (!ppItemArray) return E_POINTER;
    if (pceltFetched) *pceltFetched = 0;
    *ppItemArray = nullptr;
    if (!m_records) return S_FALSE;
    if (!pceltFetched && celt != 1) return E_POINTER;
    if (m_cursor >= m_count || !m_allocator) return S_FALSE;
    auto* block = static_cast<OPCITEMATTRIBUTES*>(
        m_allocator->Alloc(static_cast<size_t>(celt) * sizeof(OPCITEMATTRIBUTES)));
    if (!block) return S_FALSE;

    ULONG fetched = 0;
    while (fetched < celt && m_cursor < m_count) {
        const ItemAttributes& record = m_records[m_cursor++];
        OPCITEMATTRIBUTES& out = block[fetched++];
        out = OPCITEMATTRIBUTES{};
        out.szAccessPath = ClientStringCopy(record.accessPath, m_allocator.Get());
        out.szItemID = ClientStringCopy(record.itemId, m_allocator.Get());
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
        void* shrunk = m_allocator->Realloc(block, fetched * sizeof(OPCITEMATTRIBUTES));
        if (shrunk) block = static_cast<OPCITEMATTRIBUTES*>(shrunk);
    }
    *ppItemArray = block;
    if (pceltFetched) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

HRESULT ItemAttributeEnumerator::Skip(ULONG celt)
{
    if (!m_records || celt > m_count - m_cursor) return S_FALSE;
    m_cursor += celt;
    return S_OK;
}

HRESULT ItemAttributeEnumerator::Reset()
{
    m_cursor = 0;
    return S_OK;
}

HRESULT ItemAttributeEnumerator::Clone(IEnumOPCItemAttributes** ppEnumItemAttributes)
{
    if (!ppEnumItemAttributes) return E_POINTER;
    *ppEnumItemAttributes = nullptr;
    auto* clone = new (std::nothrow)
        ItemAttributeEnumerator(m_group, m_records.get(), m_count, m_allocator.Get());
    if (!clone) return E_OUTOFMEMORY;
    clone->AddRef();
    clone->m_cursor = m_cursor;
    *ppEnumItemAttributes = clone;
    return S_OK;
}

HRESULT ItemAttributeEnumerator::Create(GroupObject& group, REFIID riid, void** ppv)
{
    std::vector<ItemAttributes> snapshot;
    try {
        group.Items().ForEach([&snapshot](const ItemObject& item) {
            snapshot.push_back(ItemAttributes{CopyHeapString(item.AccessPath()),
                                              CopyHeapString(item.ItemId()),
                                              item.Active(),
                                              item.ClientHandle(),
                                              item.ServerHandle(),
                                              item.RequestedType(),
                                              item.CanonicalType()});
        });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    auto* enumerator = new (std::nothrow) ItemAttributeEnumerator(
        group, snapshot.data(), static_cast<ULONG>(snapshot.size()), g_taskAllocator);
    if (!enumerator) return E_OUTOFMEMORY;
    const HRESULT hr = enumerator->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete enumerator;
    return hr;
}
