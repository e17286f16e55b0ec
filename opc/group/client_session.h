#pragma once
#include <windows.h>

#include <memory>
#include <set>
#include <vector>

#include "opc/datachange/client_delivery.h"

class GroupObject;

// What a group needs of the server object whose group table holds it.
class GroupOwner {
public:
    // The lowest free slot of the group table (made if need be, so that PlaceGroup cannot
    // fail), or -1 when the limit's slots are all in use or there is no memory for one more;
    // the refusal leaves its trace line.
    virtual int LowestFreeGroupSlot() = 0;
    // Puts `group` into the free `slot`; the table keeps the reference the caller took for it.
    virtual void PlaceGroup(int slot, GroupObject* group) = 0;
    // The next asynchronous transaction ID of the server, shared by all its groups; never 0.
    virtual DWORD NextTransactionId() = 0;

protected:
    ~GroupOwner() = default;
};

struct ProcessHandleCloser {
    void operator()(HANDLE process) const { CloseHandle(process); }
};

// What one client made through one server object shares: the server object and every group it
// made (in its table or removed from it, and their clones), the client's process, and the
// delivery of every call to the client's sinks. Each of them holds the session; it ends with
// the last. Made, used and ended on the main thread only.
class ClientSession : public std::enable_shared_from_this<ClientSession> {
public:
    // A new session on the list of sessions; null when memory is short.
    static std::shared_ptr<ClientSession> Create();
    ~ClientSession();
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // The server object, not counted; it clears this when it is destroyed, so that a group a
    // client still holds afterwards finds no server instead of a destroyed one.
    GroupOwner* owner = nullptr;
    // Shared with the sinks that deliver through it.
    const std::shared_ptr<ClientDelivery> delivery;

    // Watches the client's process for its end; 0, or a process that cannot be opened (already
    // gone, or not ours to watch), leaves the session unwatched.
    void WatchClient(DWORD processId);
    // The client's process was watched and has ended; the watch is over once this said true.
    bool TakeClientEnded();
    // The process WatchClient was given; 0 when none.
    DWORD ClientProcessId() const { return m_clientProcessId; }

    // Every group made in this session and not yet destroyed, uncounted; false when memory is
    // short (nothing changes).
    bool AddGroup(GroupObject* group);
    void RemoveGroup(GroupObject* group) { m_groups.erase(group); }
    const std::set<GroupObject*>& Groups() const { return m_groups; }

    // Every session not yet ended, with a reference for the caller, into `sessions`.
    static bool ListAll(std::vector<std::shared_ptr<ClientSession>>& sessions);

private:
    explicit ClientSession(std::shared_ptr<ClientDelivery> delivery);

    std::unique_ptr<void, ProcessHandleCloser> m_clientProcess;
    DWORD m_clientProcessId = 0;
    std::set<GroupObject*> m_groups;
};
