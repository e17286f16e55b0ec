#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "opc_da.h"

class GroupObject;

// The groups of one server object for an enumerator, in slot order, not counted.
using GroupList = std::vector<GroupObject*>;

// A server object's group slots, 0..MaxGroupsPerClient-1; a group's slot number is its server
// handle. The table holds as many slots as its highest one in use, and one more free slot when
// LowestFreeSlot had to make it. While a slot is in use the table holds one counted reference to
// its group.
class GroupTable {
public:
    GroupTable() = default;
    GroupTable(const GroupTable&) = delete;
    GroupTable& operator=(const GroupTable&) = delete;

    // The lowest free slot, made when all the table holds are in use; -1 when the limit's slots
    // are all in use (Full) or there is no memory for one more.
    int LowestFreeSlot();
    // Whether every slot the limit allows is in use.
    bool Full() const;
    // Marks the free `slot` of LowestFreeSlot in use with `group`, keeping the reference the
    // caller took.
    void Place(int slot, GroupObject* group);
    // Releases the table's reference to the group in `slot` and frees the slot.
    void Remove(int slot);
    // Releases every group still in the table.
    void RemoveAll();

    // The slot of the first group whose server handle is `serverHandle`, or -1.
    int FindByServerHandle(OPCHANDLE serverHandle) const;
    // The group in a slot in use.
    GroupObject& At(int slot) const { return *m_slots[slot].group; }
    // The first group whose name equals `name` exactly, or null.
    GroupObject* FindByName(const wchar_t* name) const;
    DWORD Count() const;
    // Every group for a scope in OPC_ENUM_PRIVATE_CONNECTIONS .. OPC_ENUM_ALL (all groups are
    // private), none for any other scope. E_OUTOFMEMORY when the list cannot be made.
    HRESULT List(OPCENUMSCOPE scope, GroupList& list) const;

    // The update pass of every group, in slot order.
    void RunUpdatePasses(int32_t pollPeriodMs, const FILETIME& cycleTime);

private:
    struct Slot {
        LONG inUse;
        GroupObject* group;  // read only while inUse
    };
    // How many of the table's slots a new group may take: all of them, up to the limit.
    size_t SlotsServed() const;
    // The free slots at the end go.
    void TrimFreeEnd();

    // Walked by index, never by iterator: a client called back during a walk may add or remove
    // groups, which grows or shortens the table.
    std::vector<Slot> m_slots;
};
