#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "opc/com/connection_point.h"
#include "opc/com/connection_point_container_part.h"
#include "opc/com/reference_counted.h"
#include "diagnostics/support_trace.h"
#include "opc/group/client_session.h"
#include "opc/server/group_table.h"

class BrowseElementsPart;
class BrowsePart;
class CommonPart;
class ItemIoPart;
class ItemPropertiesPart;
class ServerPart;
class PersistPart;
class ShutdownConnection;

// The COM object a client gets from the class factory: its groups and, through interface parts
// made on first request, IOPCServer, IPersistFile/IPersist, IOPCBrowseServerAddressSpace,
// IOPCCommon, IOPCItemProperties, IOPCBrowse, IOPCItemIO and IConnectionPointContainer with its
// one connection point, IOPCShutdown.
class ServerObject final : public ReferenceCounted<ServerObject>, public GroupOwner {
public:
    // Called once at the final Release; the class factory counts its objects with it.
    using DestroyNotification = void (*)();

    // A new object with reference count 0, registered in the server table; null when memory
    // is short.
    static ServerObject* Create(DestroyNotification notification);
    // Destroying releases every group still in the table; a group a client still holds then
    // no longer reaches this object.
    ~ServerObject();
    ServerObject(const ServerObject&) = delete;
    ServerObject& operator=(const ServerObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;

    int LowestFreeGroupSlot() override;
    void PlaceGroup(int slot, GroupObject* group) override;
    DWORD NextTransactionId() override;

    GroupTable& Groups() { return m_groups; }
    const std::shared_ptr<ClientSession>& Session() const { return m_session; }
    // Taken at construction; reported as the last update time.
    const FILETIME& CreationTime() const { return m_creationTime; }
    // The entry held in the server table, 1..9; 0 when the table was full.
    int ServerTableIndex() const { return m_serverTableIndex; }
    // The server table has freed this object's entry; destruction leaves the table alone.
    void LeaveServerTable() { m_serverTableIndex = 0; }

    // The group update entry: one update pass of every group, under the global lock.
    void UpdateGroups(int32_t pollPeriodMs, const FILETIME& cycleTime);

    // The locale of this object's texts (IOPCCommon), one HasErrorTexts takes.
    LCID LocaleId() const { return m_localeId; }
    void SetLocaleId(LCID locale) { m_localeId = locale; }
    // The name the client gave itself; empty until it does.
    const std::wstring& ClientName() const { return m_clientName; }
    // The client as the support trace names it.
    TraceClient TraceIdentity() const
    {
        return TraceClient{m_session->ClientProcessId(), m_clientName.c_str()};
    }
    // False when the name cannot be copied.
    bool SetClientName(const wchar_t* name);
    // The IOPCShutdown connection point, made on first request; null when memory is short.
    ConnectionPoint* OutgoingConnection();
    // The same with the sink connected to it; null while no client asked for it.
    ShutdownConnection* Shutdown() const { return m_shutdown.get(); }

private:
    friend class ReferenceCounted<ServerObject>;
    ServerObject(DestroyNotification notification, std::shared_ptr<ClientSession> session);
    // The destroy notification, then the object goes.
    void FinalRelease();

    std::unique_ptr<ServerPart> m_serverPart;
    std::unique_ptr<PersistPart> m_persistPart;
    std::unique_ptr<BrowsePart> m_browsePart;
    std::unique_ptr<CommonPart> m_commonPart;
    std::unique_ptr<ItemPropertiesPart> m_propertiesPart;
    std::unique_ptr<BrowseElementsPart> m_browseElementsPart;
    std::unique_ptr<ItemIoPart> m_itemIoPart;
    std::unique_ptr<ConnectionPointContainerPart<ServerObject>> m_containerPart;
    std::unique_ptr<ShutdownConnection> m_shutdown;
    LCID m_localeId = LOCALE_SYSTEM_DEFAULT;
    std::wstring m_clientName;
    FILETIME m_creationTime = {};
    int m_serverTableIndex = 0;
    DWORD m_transactionCounter = 0;
    DestroyNotification m_destroyNotification;
    std::shared_ptr<ClientSession> m_session;
    GroupTable m_groups;
};
