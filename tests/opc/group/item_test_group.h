// A group of a new server object with short ways to add, read and write single items and to
// look at the item objects behind the handles.
#pragma once

#include <windows.h>

#include "opc/values/item_value_owner.h"
#include "opc_da.h"
#include "runtime_link/project_files.h"
#include "tests/opc/server/com_server_test_support.h"

class GroupObject;
class ItemObject;

struct AddOutcome {
    HRESULT error;
    OPCITEMRESULT result;
};

struct ReadOutcome {
    HRESULT error;
    OPCHANDLE client;
    WORD quality;
    FILETIME time;
    VariantOwner value;
};

class ItemTestGroup {
public:
    explicit ItemTestGroup(IOPCServer* server = nullptr, const wchar_t* name = L"G");

    IOPCItemMgt* Items() const { return items_.Get(); }
    IOPCSyncIO* Io() const { return io_.Get(); }
    IOPCServer* Server() const { return server_.Get(); }
    GroupObject& Object() const;
    // The item behind a handle, or null.
    ItemObject* Item(OPCHANDLE handle) const;

    AddOutcome Add(const wchar_t* itemId, BOOL active = TRUE, VARTYPE requested = VT_EMPTY,
                   OPCHANDLE client = 0, const wchar_t* accessPath = nullptr);
    // Adds an item that must be accepted and returns its server handle.
    OPCHANDLE AddGood(const wchar_t* itemId, BOOL active = TRUE, VARTYPE requested = VT_EMPTY);
    ReadOutcome Read(OPCHANDLE handle, OPCDATASOURCE source = OPC_DS_CACHE) const;
    HRESULT Write(OPCHANDLE handle, const VARIANT& value) const;
    void SetGroupActive(BOOL active) const;
    void SetItemActive(OPCHANDLE handle, BOOL active) const;
    void SetRequestedType(OPCHANDLE handle, VARTYPE type) const;

private:
    ComPtr<IOPCServer> server_;
    ComPtr<IOPCGroupStateMgt> state_;
    ComPtr<IOPCItemMgt> items_;
    ComPtr<IOPCSyncIO> io_;
};

// The poll period that update rates are revised against, for the life of a test.
class ScopedPollPeriod {
public:
    explicit ScopedPollPeriod(int32_t periodMs) : saved_(PollPeriod()) { PollPeriod() = periodMs; }
    ~ScopedPollPeriod() { PollPeriod() = saved_; }
    ScopedPollPeriod(const ScopedPollPeriod&) = delete;
    ScopedPollPeriod& operator=(const ScopedPollPeriod&) = delete;

private:
    int32_t saved_;
};

// A FILETIME as one number of 100 ns units.
ULONGLONG Ticks(const FILETIME& time);
ULONGLONG NowTicks();
