#pragma once
#include <windows.h>

#include <cstdint>

#include "opc_da.h"

class GroupObject;

constexpr int kGroupSlots = 10;

// The groups of one server object for an enumerator, in slot order, not counted.
struct GroupList {
    GroupObject* groups[kGroupSlots];
    ULONG count;
};

// A server object's ten group slots; a group's slot number is its server handle. While a slot
// is in use the table holds one counted reference to its group.
class GroupTable {
public:
    GroupTable() = default;
    GroupTable(const GroupTable&) = delete;
    GroupTable& operator=(const GroupTable&) = delete;

    // The lowest free slot, or -1 when all ten are in use.
    int LowestFreeSlot() const;
    // Marks the free `slot` in use with `group`, keeping the reference the caller took.
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
    // private), none for any other scope.
    GroupList List(OPCENUMSCOPE scope) const;

    // The update pass of every group, in slot order.
    void RunUpdatePasses(int32_t pollPeriodMs, const FILETIME& cycleTime);

private:
    struct Slot {
        LONG inUse;
        GroupObject* group;  // read only while inUse
    };
    Slot m_slots[kGroupSlots] = {};
};
