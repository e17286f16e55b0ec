#pragma once
#include <unknwn.h>

// The reference count every COM object of the server keeps: it starts at 0, the creator's
// QueryInterface takes it to 1 and the final Release destroys the object. `Derived` supplies
// QueryInterface and may hide these hooks:
//   OnAddRef, OnRelease  run on every AddRef and Release, before the count changes (an
//                        enumerator repeats each on its owner)
//   FinalRelease         runs when the count reaches 0; deletes the object (ServerObject sends
//                        its destroy notification first)
// A Derived with a private destructor or private hooks befriends this class.
template <class Derived, class Interface = IUnknown>
class ReferenceCounted : public Interface {
public:
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        self().OnAddRef();
        return static_cast<ULONG>(++m_refCount);
    }

    ULONG STDMETHODCALLTYPE Release() override
    {
        // The hook first: the object may be gone once its count reaches 0.
        self().OnRelease();
        const LONG count = --m_refCount;
        if (count == 0) self().FinalRelease();
        return static_cast<ULONG>(count);
    }

protected:
    ReferenceCounted() = default;
    ~ReferenceCounted() = default;
    ReferenceCounted(const ReferenceCounted&) = delete;
    ReferenceCounted& operator=(const ReferenceCounted&) = delete;

    void OnAddRef() {}
    void OnRelease() {}
    void FinalRelease() { delete &self(); }

private:
    Derived& self() { return static_cast<Derived&>(*this); }

    LONG m_refCount = 0;
};
