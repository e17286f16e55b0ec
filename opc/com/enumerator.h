#pragma once
#include <objbase.h>
#include <wrl/client.h>

#include <memory>
#include <new>

#include "opc/com/owned_enumerators.h"
#include "opc/com/reference_counted.h"
#include "opc/com/task_memory.h"

// The snapshot and cursor of an enumerator as Next sees them.
template <class Stored>
struct EnumeratorCursor {
    const Stored* elements;  // null when the snapshot could not be taken: Next yields nothing
    ULONG count;
    ULONG& position;
    IMalloc* allocator;
};

// The design shared by the string, object and item attribute enumerators: a private snapshot
// of elements taken at construction, a cursor, and an optional owner whose reference count
// follows the enumerator's, so that the owner lives at least as long as the enumerator.
//
// `Elements` describes one member of the family:
//   Interface              IEnumString, IEnumUnknown or IEnumOPCItemAttributes
//   Item                   what Next's array receives (LPOLESTR, IUnknown*, OPCITEMATTRIBUTES*)
//   Source                 what construction copies from (const wchar_t*, IUnknown*, ...)
//   Stored                 the snapshot's element, owning what it holds
//   Keep(const Source&)    a snapshot element
//   View(const Stored&)    the element as a Source, for Clone
//   Next(EnumeratorCursor<Stored>, celt, Item*, ULONG* fetched)
//                          Next of the interface; HandedOutOneByOne gives the usual one
template <class Elements>
class Enumerator final
    : public ReferenceCounted<Enumerator<Elements>, typename Elements::Interface> {
public:
    using Interface = typename Elements::Interface;
    using Item = typename Elements::Item;
    using Source = typename Elements::Source;
    using Stored = typename Elements::Stored;

    // A new enumerator over `count` elements of `source` (which the caller keeps), handed out
    // through its QueryInterface; destroyed again when that fails.
    static HRESULT Create(IUnknown* owner, ULONG count, const Source* source, REFIID riid,
                          void** ppv)
    {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        auto* enumerator = new (std::nothrow) Enumerator(owner, count, source, g_taskAllocator);
        if (!enumerator) return E_OUTOFMEMORY;
        const HRESULT hr = enumerator->QueryInterface(riid, ppv);
        if (FAILED(hr)) delete enumerator;
        return hr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != __uuidof(Interface)) return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        this->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, Item* rgelt, ULONG* pceltFetched) override
    {
        return Elements::Next(
            EnumeratorCursor<Stored>{m_elements.get(), m_count, m_cursor, m_allocator.Get()}, celt,
            rgelt, pceltFetched);
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override
    {
        if (!m_elements || celt > m_count - m_cursor) return S_FALSE;
        m_cursor += celt;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Reset() override
    {
        m_cursor = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(Interface** ppenum) override
    {
        if (!ppenum) return E_POINTER;
        *ppenum = nullptr;
        auto* clone = new (std::nothrow) Enumerator(CloneOf{}, *this);
        if (!clone) return E_OUTOFMEMORY;
        clone->AddRef();
        clone->m_cursor = m_cursor;
        *ppenum = clone;
        return S_OK;
    }

private:
    friend class ReferenceCounted<Enumerator<Elements>, Interface>;

    Enumerator(IUnknown* owner, ULONG count, const Source* source, IMalloc* allocator)
        : m_owner(owner), m_count(count), m_allocator(allocator)
    {
        if (m_owner) RecordOwnedEnumerator(this, m_owner);
        // A source without elements gives none.
        if (!source && count != 0) return;
        TakeSnapshot([source](ULONG i) -> const Source& { return source[i]; });
    }

    // A clone: the same owner and allocator, the elements copied again.
    struct CloneOf {};
    Enumerator(CloneOf, const Enumerator& source)
        : m_owner(source.m_owner), m_count(source.m_count), m_allocator(source.m_allocator)
    {
        if (m_owner) RecordOwnedEnumerator(this, m_owner);
        if (!source.m_elements) return;
        TakeSnapshot(
            [&source](ULONG i) -> decltype(auto) { return Elements::View(source.m_elements[i]); });
    }

    ~Enumerator()
    {
        if (m_owner) ForgetOwnedEnumerator(this);
    }

    void OnAddRef()
    {
        if (m_owner) m_owner->AddRef();
    }
    // Before this enumerator's own count drops: it may be gone after that.
    void OnRelease()
    {
        if (m_owner) m_owner->Release();
    }

    // Without memory for the array the enumerator yields nothing.
    template <class ElementAt>
    void TakeSnapshot(ElementAt elementAt)
    {
        m_elements.reset(new (std::nothrow) Stored[m_count]);
        if (!m_elements) return;
        for (ULONG i = 0; i < m_count; ++i) m_elements[i] = Elements::Keep(elementAt(i));
    }

    IUnknown* const m_owner;
    ULONG m_cursor = 0;
    const ULONG m_count;
    std::unique_ptr<Stored[]> m_elements;
    Microsoft::WRL::ComPtr<IMalloc> m_allocator;
};

// Next of IEnumString and IEnumUnknown: each array entry receives one element handed out.
template <class Elements>
struct HandedOutOneByOne {
    template <class Stored, class Item>
    static HRESULT Next(EnumeratorCursor<Stored> cursor, ULONG celt, Item* rgelt,
                        ULONG* pceltFetched)
    {
        if (celt > 0 && !rgelt) return E_POINTER;
        if (pceltFetched) *pceltFetched = 0;
        if (celt >= 1) rgelt[0] = nullptr;
        if (!cursor.elements) return S_FALSE;
        if (!pceltFetched && celt != 1) return E_POINTER;
        if (cursor.position >= cursor.count) return S_FALSE;
        ULONG fetched = 0;
        while (cursor.position < cursor.count && fetched < celt) {
            rgelt[fetched++] =
                Elements::HandOut(cursor.elements[cursor.position++], cursor.allocator);
        }
        if (pceltFetched) *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
};
