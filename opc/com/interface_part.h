#pragma once
#include <unknwn.h>

// One interface of a server or group object, other than IUnknown: a small member object that
// shares its owner's identity and reference count. Its IUnknown methods forward to the owner;
// the back pointer is not counted, since the owner destroys its parts.
template <class Interface, class Owner>
class InterfacePart : public Interface {
public:
    explicit InterfacePart(Owner& owner) : m_owner(&owner) {}
    InterfacePart(const InterfacePart&) = delete;
    InterfacePart& operator=(const InterfacePart&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        return m_owner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_owner->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_owner->Release(); }

protected:
    Owner& owner() const { return *m_owner; }

private:
    Owner* const m_owner;
};
