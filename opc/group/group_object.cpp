#include "opc/group/group_object.h"

#include <new>

#include "opc/com/global_lock.h"
#include "opc/datachange/data_object.h"
#include "opc/datachange/update_pass.h"
#include "opc/group/group_state_mgt.h"
#include "opc/group/item_deadband_mgt.h"
#include "opc/group/item_mgt.h"
#include "opc/group/sync_io.h"
#include "opc/items/item_object.h"
#include "opc/values/item_value.h"

GroupObject::GroupObject(std::shared_ptr<ClientSession> session) : m_session(std::move(session))
{
}

GroupObject* GroupObject::Create(const std::shared_ptr<ClientSession>& session)
{
    auto* group = new (std::nothrow) GroupObject(session);
    if (group && !session->AddGroup(group)) {
        delete group;
        return nullptr;
    }
    return group;
}

GroupObject::~GroupObject()
{
    // Never in the middle of an update pass.
    GlobalLockScope lock;
    m_session->RemoveGroup(this);
    m_items.RemoveAll();
    state.name.reset();
    m_stateMgtPart.reset();
    m_syncIOPart.reset();
    m_asyncIOPart.reset();
    m_itemMgtPart.reset();
    m_dataObjectPart.reset();  // releases the advise sinks
    m_asyncIO3Part.reset();
    m_deadbandPart.reset();
    m_containerPart.reset();
}

HRESULT GroupObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    IUnknown* answer = nullptr;
    if (riid == IID_IUnknown) {
        answer = this;
    } else if (riid == IID_IOPCGroupStateMgt || riid == IID_IOPCGroupStateMgt2) {
        if (!m_stateMgtPart) m_stateMgtPart.reset(new (std::nothrow) GroupStateMgtPart(*this));
        answer = m_stateMgtPart.get();
    } else if (riid == IID_IOPCSyncIO || riid == IID_IOPCSyncIO2) {
        if (!m_syncIOPart) m_syncIOPart.reset(new (std::nothrow) SyncIOPart(*this));
        answer = m_syncIOPart.get();
    } else if (riid == IID_IOPCItemMgt) {
        if (!m_itemMgtPart) m_itemMgtPart.reset(new (std::nothrow) ItemMgtPart(*this));
        answer = m_itemMgtPart.get();
    } else if (riid == IID_IOPCAsyncIO) {
        if (!m_asyncIOPart) m_asyncIOPart.reset(new (std::nothrow) AsyncIOPart(*this));
        answer = m_asyncIOPart.get();
    } else if (riid == IID_IDataObject) {
        if (!m_dataObjectPart) {
            m_dataObjectPart.reset(new (std::nothrow) DataObjectPart(*this, m_session->delivery));
        }
        answer = m_dataObjectPart.get();
    } else if (riid == IID_IOPCAsyncIO2 || riid == IID_IOPCAsyncIO3) {
        if (!m_asyncIO3Part) m_asyncIO3Part.reset(new (std::nothrow) AsyncIO3Part(*this));
        answer = m_asyncIO3Part.get();
    } else if (riid == IID_IOPCItemDeadbandMgt) {
        if (!m_deadbandPart) m_deadbandPart.reset(new (std::nothrow) ItemDeadbandMgtPart(*this));
        answer = m_deadbandPart.get();
    } else if (riid == IID_IConnectionPointContainer) {
        if (!m_containerPart) {
            m_containerPart.reset(new (std::nothrow)
                                      ConnectionPointContainerPart<GroupObject>(*this));
        }
        answer = m_containerPart.get();
    }
    // IOPCPublicGroupStateMgt is not offered: there are no public groups.
    if (!answer) return E_NOINTERFACE;
    *ppv = answer;
    AddRef();
    return S_OK;
}

void GroupObject::RunUpdatePass(int32_t pollPeriodMs, const FILETIME& cycleTime)
{
    ::RunUpdatePass(*this, pollPeriodMs, cycleTime);
}

void GroupObject::LeaveUpdatePasses()
{
    // Refused from here on, also from within the completions' calls.
    m_inServerTable = false;
    m_items.ForEach([](ItemObject& item) { item.PostPendingWrite(); });
    ::AnswerWaitingRequests(*this);
}

HRESULT GroupObject::CopyItemsFrom(const GroupObject& source)
{
    HRESULT result = S_OK;
    const FILETIME now = CurrentUtcTime();
    source.Items().ForEach([this, &result, &now](const ItemObject& item) {
        if (FAILED(result)) return;
        auto* copy = new (std::nothrow) ItemObject;
        if (!copy) {
            result = E_OUTOFMEMORY;
            return;
        }
        copy->AddRef();  // the item table's reference
        result = copy->CopyFrom(item, now);
        if (FAILED(result)) {
            copy->Release();
            return;
        }
        if (!m_items.Place(static_cast<int>(item.ServerHandle()), copy)) {
            copy->Release();
            result = E_OUTOFMEMORY;
        }
    });
    return result;
}
