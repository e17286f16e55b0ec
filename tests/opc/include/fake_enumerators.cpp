#include "fake_enumerators.h"

#include "fake_values.h"

#include <cstring>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace fake {
namespace {

// Cursor, Skip, Reset and Clone common to the three enumerators; Derived adds Next.
template <class Derived, class Interface, class Entry>
class Enumerator : public ComObject<Interface> {
public:
    explicit Enumerator(std::vector<Entry> entries) : entries_(std::move(entries)) {}

    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override
    {
        const size_t left = entries_.size() - cursor_;
        cursor_ += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        cursor_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface** ppEnum) override
    {
        if (!ppEnum) return E_INVALIDARG;
        auto* clone = new Derived(entries_);
        clone->cursor_ = cursor_;
        return hand_out(clone, __uuidof(Interface), reinterpret_cast<void**>(ppEnum));
    }

protected:
    // Copies up to celt entries from the cursor on into `out`; returns how many.
    template <class Element, class Copy>
    ULONG take(ULONG celt, Element* out, Copy copy)
    {
        ULONG fetched = 0;
        while (fetched < celt && cursor_ < entries_.size())
            copy(entries_[cursor_++], out[fetched++]);
        return fetched;
    }

private:
    std::vector<Entry> entries_;
    size_t cursor_ = 0;
};

// IEnumString and IEnumUnknown: Next fills the caller's array, one element per entry.
template <class Interface, class Entry, class Element, void (*Copy)(const Entry&, Element&)>
class ArrayEnumerator
    : public Enumerator<ArrayEnumerator<Interface, Entry, Element, Copy>, Interface, Entry> {
public:
    using ArrayEnumerator::Enumerator::Enumerator;
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, Element* rgelt, ULONG* pceltFetched) override
    {
        if (!rgelt || (!pceltFetched && celt != 1)) return E_INVALIDARG;
        const ULONG fetched = this->take(celt, rgelt, Copy);
        if (pceltFetched) *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
};

void copy_string(const std::wstring& entry, LPOLESTR& element)
{
    element = task_string(entry);
}
void copy_object(const ComPtr<IUnknown>& entry, IUnknown*& element)
{
    entry.CopyTo(&element);
}

using StringEnumerator = ArrayEnumerator<IEnumString, std::wstring, LPOLESTR, copy_string>;
using UnknownEnumerator = ArrayEnumerator<IEnumUnknown, ComPtr<IUnknown>, IUnknown*, copy_object>;

// Engineering-unit range as OPC gives it for analog items: a SAFEARRAY of two doubles.
void set_eu_range(VARIANT& info)
{
    VariantInit(&info);
    SAFEARRAY* range = SafeArrayCreateVector(VT_R8, 0, 2);
    if (!range) return;
    static_cast<double*>(range->pvData)[0] = kEuLow;
    static_cast<double*>(range->pvData)[1] = kEuHigh;
    info.vt = VT_ARRAY | VT_R8;
    info.parray = range;
}

class ItemAttributesEnumerator
    : public Enumerator<ItemAttributesEnumerator, IEnumOPCItemAttributes, Item> {
public:
    using Enumerator::Enumerator;
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                   ULONG* pceltFetched) override
    {
        if (!ppItemArray || !pceltFetched) return E_INVALIDARG;
        *ppItemArray = nullptr;
        *pceltFetched = 0;
        OPCITEMATTRIBUTES* records = task_array<OPCITEMATTRIBUTES>(celt);
        if (!records) return E_OUTOFMEMORY;
        const ULONG fetched = take(celt, records, [](const Item& item, OPCITEMATTRIBUTES& a) {
            a.szAccessPath = task_string(item.accessPath);
            a.szItemID = task_string(item.itemId);
            a.bActive = item.active;
            a.hClient = item.hClient;
            a.hServer = item.hServer;
            a.dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
            a.dwBlobSize = static_cast<DWORD>(item.blob.size());
            a.pBlob = task_array<BYTE>(item.blob.size());
            if (!item.blob.empty()) std::memcpy(a.pBlob, item.blob.data(), item.blob.size());
            a.vtRequestedDataType = item.requestedType;
            a.vtCanonicalDataType = item.canonicalType;
            a.dwEUType = OPC_ANALOG;
            set_eu_range(a.vEUInfo);
        });
        *ppItemArray = records;
        *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
};

}  // namespace

HRESULT make_string_enumerator(std::vector<std::wstring> strings, IEnumString** ppEnum)
{
    return hand_out(new StringEnumerator(std::move(strings)), IID_IEnumString,
                    reinterpret_cast<void**>(ppEnum));
}

HRESULT make_unknown_enumerator(std::vector<ComPtr<IUnknown>> objects, REFIID riid, void** ppEnum)
{
    return hand_out(new UnknownEnumerator(std::move(objects)), riid, ppEnum);
}

HRESULT make_item_attributes_enumerator(std::vector<Item> items, REFIID riid, void** ppEnum)
{
    return hand_out(new ItemAttributesEnumerator(std::move(items)), riid, ppEnum);
}

}  // namespace fake
