// Reference counting, QueryInterface and task-memory helpers for the fake OPC server's objects.
#pragma once

#include <objbase.h>

#include <string>
#include <tuple>
#include <type_traits>

namespace fake {

// Every live fake object is counted; the fake server ends when the count falls back to 0.
void object_created();
void object_destroyed();

// The interface an interface extends (IOPCSyncIO for IOPCSyncIO2): an object answers for it too.
template <class Interface>
struct Extends {
    using type = void;
};

template <class... Interfaces>
class ComObject : public Interfaces... {
public:
    ComObject() { object_created(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() { object_destroyed(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(
                static_cast<std::tuple_element_t<0, std::tuple<Interfaces...>>*>(this));
        } else {
            (answers(static_cast<Interfaces*>(this), riid, ppv) || ...);
        }
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

private:
    template <class Interface>
    static bool answers(Interface* self, REFIID riid, void** ppv)
    {
        if (riid == __uuidof(Interface)) {
            *ppv = self;
            return true;
        }
        using Base = typename Extends<Interface>::type;
        if constexpr (std::is_void_v<Base>) {
            return false;
        } else {
            return answers(static_cast<Base*>(self), riid, ppv);
        }
    }

    ULONG references_ = 0;
};

// Hands a new object out through QueryInterface; an unsupported riid destroys it again.
template <class Object>
HRESULT hand_out(Object* object, REFIID riid, void** ppv)
{
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

// Task-allocator copies, the client's to free.
wchar_t* task_string(const std::wstring& text);
// Zeroed, so that entries a call leaves untouched stay empty.
template <class T>
T* task_array(size_t count)
{
    const size_t bytes = count ? count * sizeof(T) : 1;
    void* block = CoTaskMemAlloc(bytes);
    if (block) ZeroMemory(block, bytes);
    return static_cast<T*>(block);
}

}  // namespace fake
