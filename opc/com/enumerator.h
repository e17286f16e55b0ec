#pragma once
#include <objbase.h>
#include <wrl/client.h>

#include <memory>
#include <new>

#include "opc/com/task_memory.h"

// The design shared by the string and object enumerators: a private snapshot of elements taken
// at construction, a cursor, and an optional owner whose reference count follows the
// enumerator's, so that the owner lives at least as long as the enumerator.
//
// `Elements` describes one member of the family:
//   Interface              IEnumString or IEnumUnknown
//   Item                   what Next hands out (LPOLESTR, IUnknown*)
//   Source                 what construction copies from (const wchar_t*, IUnknown*)
//   Stored                 the snapshot's element, owning what it holds
//   Keep(Source)           a snapshot element
//   View(Stored)           the element as a Source, for Clone
//   HandOut(Stored, IMalloc*)  the client's copy or reference
template <class Elements>
class Enumerator final : public Elements::Interface {
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

    Enumerator(const Enumerator&) = delete;
    Enumerator& operator=(const Enumerator&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != __uuidof(Interface)) return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override
    {
        if (m_owner) m_owner->AddRef();
        return static_cast<ULONG>(++m_refCount);
    }

    ULONG STDMETHODCALLTYPE Release() override
    {
        // The owner first: this enumerator may be gone after its own count reaches 0.
        if (m_owner) m_owner->Release();
        const LONG count = --m_refCount;
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, Item* rgelt, ULONG* pceltFetched) override
    {
        if (celt > 0 && !rgelt) return E_POINTER;
        if (pceltFetched) *pceltFetched = 0;
        if (celt >= 1) rgelt[0] = nullptr;
        if (!m_elements) return S_FALSE;
        if (!pceltFetched && celt != 1) return E_POINTER;
        if (m_cursor >= m_count) return S_FALSE;
        ULONG fetched = 0;
        while (m_cursor < m_count && fetched < celt) {
            rgelt[fetched++] = Elements::HandOut(m_elements[m_cursor++], m_allocator.Get());
        }
        if (pceltFetched) *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
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
    Enumerator(IUnknown* owner, ULONG count, const Source* source, IMalloc* allocator)
        : m_owner(owner), m_count(count), m_allocator(allocator)
    {
        TakeSnapshot([source](ULONG i) { return source[i]; });
    }

    // A clone: the same owner and allocator, the elements copied again.
    struct CloneOf {};
    Enumerator(CloneOf, const Enumerator& source)
        : m_owner(source.m_owner), m_count(source.m_count), m_allocator(source.m_allocator)
    {
        if (!source.m_elements) return;
        TakeSnapshot([&source](ULONG i) { return Elements::View(source.m_elements[i]); });
    }

    // Without memory for the array the enumerator yields nothing.
    template <class ElementAt>
    void TakeSnapshot(ElementAt elementAt)
    {
        m_elements.reset(new (std::nothrow) Stored[m_count]);
        if (!m_elements) return;
        for (ULONG i = 0; i < m_count; ++i) m_elements[i] = Elements::Keep(elementAt(i));
    }

    LONG m_refCount = 0;
    IUnknown* const m_owner;
    ULONG m_cursor = 0;
    const ULONG m_count;
    std::unique_ptr<Stored[]> m_elements;
    Microsoft::WRL::ComPtr<IMalloc> m_allocator;
};
