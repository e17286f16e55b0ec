#include "opc/group/group_object.h"

#include <new>

#include "opc/group/group_state_mgt.h"
#include "opc/server/global_lock.h"

GroupObject::GroupObject(std::shared_ptr<GroupOwnerLink> ownerLink)
    : m_ownerLink(std::move(ownerLink))
{
}

GroupObject::~GroupObject()
{
    // Never in the middle of an update pass.
    GlobalLockScope lock;
    state.name.reset();
    m_stateMgtPart.reset();
}

HRESULT GroupObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    IUnknown* answer = nullptr;
    if (riid == IID_IUnknown) {
        answer = this;
    } else if (riid == IID_IOPCGroupStateMgt) {
        if (!m_stateMgtPart) m_stateMgtPart.reset(new (std::nothrow) GroupStateMgtPart(*this));
        answer = m_stateMgtPart.get();
    }
    // IOPCPublicGroupStateMgt is not offered: there are no public groups.
    if (!answer) return E_NOINTERFACE;
    *ppv = answer;
    AddRef();
    return S_OK;
}

ULONG GroupObject::AddRef()
{
    return static_cast<ULONG>(++m_refCount);
}

ULONG GroupObject::Release()
{
    const LONG count = --m_refCount;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

void GroupObject::RunUpdatePass(int32_t /*pollPeriodMs*/)
{
}
