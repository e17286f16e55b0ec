#include "opc/server/server_object.h"

#include <new>

#include "opc/com/global_lock.h"
#include "opc/group/group_object.h"
#include "opc/server/browse_elements_part.h"
#include "opc/server/browse_part.h"
#include "opc/server/common_part.h"
#include "opc/server/item_io_part.h"
#include "opc/server/item_properties_part.h"
#include "opc/server/object_enumerator.h"
#include "opc/server/persist_part.h"
#include "opc/server/server_capacity.h"
#include "opc/server/server_part.h"
#include "opc/server/server_table.h"
#include "opc/server/shutdown_notice.h"

ServerObject* ServerObject::Create(DestroyNotification notification)
{
    std::shared_ptr<ClientSession> session = ClientSession::Create();
    if (!session) return nullptr;
    return new (std::nothrow) ServerObject(notification, std::move(session));
}

ServerObject::ServerObject(DestroyNotification notification,
                           std::shared_ptr<ClientSession> session)
    : m_destroyNotification(notification), m_session(std::move(session))
{
    m_session->owner = this;
    SYSTEMTIME now;
    GetSystemTime(&now);
    SystemTimeToFileTime(&now, &m_creationTime);
    m_serverTableIndex = RegisterServer(this);
}

ServerObject::~ServerObject()
{
    GlobalLockScope lock;
    UnregisterServer(m_serverTableIndex);
    m_session->owner = nullptr;
    m_groups.RemoveAll();
    m_serverPart.reset();
    m_persistPart.reset();
    m_browsePart.reset();
    m_commonPart.reset();
    m_propertiesPart.reset();
    m_browseElementsPart.reset();
    m_itemIoPart.reset();
    m_containerPart.reset();
    // The shutdown sink goes last; nothing can reach this object now.
    m_shutdown.reset();
}

HRESULT ServerObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    IUnknown* answer = nullptr;
    if (riid == IID_IUnknown) {
        answer = static_cast<IUnknown*>(this);
    } else if (riid == IID_IOPCServer) {
        if (!m_serverPart) m_serverPart.reset(new (std::nothrow) ServerPart(*this));
        answer = m_serverPart.get();
    } else if (riid == IID_IPersistFile || riid == IID_IPersist) {
        if (!m_persistPart) m_persistPart.reset(new (std::nothrow) PersistPart(*this));
        answer = m_persistPart.get();
    } else if (riid == IID_IOPCBrowseServerAddressSpace) {
        if (!m_browsePart) m_browsePart.reset(new (std::nothrow) BrowsePart(*this));
        answer = m_browsePart.get();
    } else if (riid == IID_IOPCCommon) {
        if (!m_commonPart) m_commonPart.reset(new (std::nothrow) CommonPart(*this));
        answer = m_commonPart.get();
    } else if (riid == IID_IOPCItemProperties) {
        if (!m_propertiesPart) m_propertiesPart.reset(new (std::nothrow) ItemPropertiesPart(*this));
        answer = m_propertiesPart.get();
    } else if (riid == IID_IOPCBrowse) {
        if (!m_browseElementsPart)
            m_browseElementsPart.reset(new (std::nothrow) BrowseElementsPart(*this));
        answer = m_browseElementsPart.get();
    } else if (riid == IID_IOPCItemIO) {
        if (!m_itemIoPart) m_itemIoPart.reset(new (std::nothrow) ItemIoPart(*this));
        answer = m_itemIoPart.get();
    } else if (riid == IID_IConnectionPointContainer) {
        if (!m_containerPart)
            m_containerPart.reset(new (std::nothrow)
                                      ConnectionPointContainerPart<ServerObject>(*this));
        answer = m_containerPart.get();
    } else if (riid == IID_IEnumUnknown) {
        // A new enumerator over the groups of this moment; it holds the reference it adds to
        // this object, so there is no AddRef here.
        GroupList list;
        const HRESULT listed = m_groups.List(OPC_ENUM_ALL_CONNECTIONS, list);
        if (FAILED(listed)) return listed;
        return CreateGroupObjectEnumerator(static_cast<IUnknown*>(this), list, riid, ppv);
    }
    // IOPCServerPublicGroups is not offered: there are no public groups.
    if (!answer) return E_NOINTERFACE;
    *ppv = answer;
    AddRef();
    return S_OK;
}

bool ServerObject::SetClientName(const wchar_t* name)
{
    try {
        m_clientName = name;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

ConnectionPoint* ServerObject::OutgoingConnection()
{
    if (!m_shutdown) {
        m_shutdown.reset(new (std::nothrow)
                             ShutdownConnection(static_cast<IUnknown&>(*this), m_session->delivery));
    }
    return m_shutdown ? &m_shutdown->Point() : nullptr;
}

void ServerObject::FinalRelease()
{
    SUPPORT_TRACE(TraceIdentity(), S_OK, "client released its server object (entry %d)",
                  m_serverTableIndex);
    if (m_destroyNotification) m_destroyNotification();
    delete this;
}

int ServerObject::LowestFreeGroupSlot()
{
    const int slot = m_groups.LowestFreeSlot();
    if (slot >= 0) return slot;
    if (m_groups.Full()) {
        SUPPORT_TRACE(TraceIdentity(), E_OUTOFMEMORY,
                      "new group refused: all %d group slots in use (the setting %s raises the "
                      "limit)",
                      CurrentServerCapacity().maxGroupsPerClient, kMaxGroupsPerClientSetting);
    } else {
        SUPPORT_TRACE(TraceIdentity(), E_OUTOFMEMORY, "new group refused: no memory for its slot");
    }
    return -1;
}

void ServerObject::PlaceGroup(int slot, GroupObject* group)
{
    m_groups.Place(slot, group);
}

DWORD ServerObject::NextTransactionId()
{
    // 0 marks a data change in the streams, so it is skipped when the counter wraps.
    if (++m_transactionCounter == 0) ++m_transactionCounter;
    return m_transactionCounter;
}

void ServerObject::UpdateGroups(int32_t pollPeriodMs, const FILETIME& cycleTime)
{
    GlobalLockScope lock;
    m_groups.RunUpdatePasses(pollPeriodMs, cycleTime);
}
