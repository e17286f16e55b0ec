#pragma once
#include <windows.h>

class GroupObject;

// What a group needs of the server object whose group table holds it.
class GroupOwner {
public:
    // The lowest free slot of the group table, or -1 when all are in use.
    virtual int LowestFreeGroupSlot() const = 0;
    // Puts `group` into the free `slot`; the table keeps the reference the caller took for it.
    virtual void PlaceGroup(int slot, GroupObject* group) = 0;
    // The next asynchronous transaction ID of the server, shared by all its groups; never 0.
    virtual DWORD NextTransactionId() = 0;

protected:
    ~GroupOwner() = default;
};

// Shared by a server object and every group it made. The group's pointer to its server is not
// counted; the server clears `owner` when it is destroyed, so that a group a client still holds
// afterwards finds no server instead of a destroyed one.
struct GroupOwnerLink {
    GroupOwner* owner;
};
