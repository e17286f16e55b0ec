#include "tests/opc/group/item_test_group.h"

#include <gtest/gtest.h>

#include "opc/group/group_object.h"
#include "opc/items/item_object.h"
#include "tests/opc/include/task_memory.h"

ItemTestGroup::ItemTestGroup(IOPCServer* server, const wchar_t* name)
    : server_(server ? ComPtr<IOPCServer>(server) : NewServer())
{
    state_ = AddGroup(server_.Get(), name);
    EXPECT_EQ(S_OK, state_.As(&items_));
    EXPECT_EQ(S_OK, state_.As(&io_));
}

GroupObject& ItemTestGroup::Object() const
{
    ComPtr<IUnknown> identity;
    EXPECT_EQ(S_OK, state_.As(&identity));
    // The group's IUnknown is the group object itself; the test's references keep it alive.
    return *static_cast<GroupObject*>(identity.Get());
}

ItemObject* ItemTestGroup::Item(OPCHANDLE handle) const
{
    return Object().Items().Find(handle);
}

AddOutcome ItemTestGroup::Add(const wchar_t* itemId, BOOL active, VARTYPE requested,
                              OPCHANDLE client, const wchar_t* accessPath)
{
    OPCITEMDEF definition{};
    definition.szItemID = const_cast<LPWSTR>(itemId);
    definition.szAccessPath = const_cast<LPWSTR>(accessPath);
    definition.bActive = active;
    definition.hClient = client;
    definition.vtRequestedDataType = requested;
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    const HRESULT hr = items_->AddItems(1, &definition, results.out(), errors.out());
    EXPECT_EQ(errors[0] == S_OK ? S_OK : S_FALSE, hr);
    return AddOutcome{errors[0], results[0]};
}

OPCHANDLE ItemTestGroup::AddGood(const wchar_t* itemId, BOOL active, VARTYPE requested)
{
    const AddOutcome added = Add(itemId, active, requested);
    EXPECT_EQ(S_OK, added.error) << itemId;
    return added.result.hServer;
}

ReadOutcome ItemTestGroup::Read(OPCHANDLE handle, OPCDATASOURCE source) const
{
    TaskOut<OPCITEMSTATE> states;
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_OK, io_->Read(source, 1, &handle, states.out(), errors.out()));
    ReadOutcome outcome{
        errors[0], states[0].hClient, states[0].wQuality, states[0].ftTimeStamp, {}};
    *outcome.value.Receive() = states[0].vDataValue;  // taken over: cleared by the owner
    return outcome;
}

HRESULT ItemTestGroup::Write(OPCHANDLE handle, const VARIANT& value) const
{
    TaskOut<HRESULT> errors;
    VARIANT copy = value;  // Write does not change or keep what it is given
    EXPECT_EQ(S_OK, io_->Write(1, &handle, &copy, errors.out()));
    return errors[0];
}

void ItemTestGroup::SetGroupActive(BOOL active) const
{
    DWORD revised = 0;
    EXPECT_EQ(S_OK,
              state_->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr));
}

void ItemTestGroup::SetItemActive(OPCHANDLE handle, BOOL active) const
{
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_OK, items_->SetActiveState(1, &handle, active, errors.out()));
}

void ItemTestGroup::SetRequestedType(OPCHANDLE handle, VARTYPE type) const
{
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_OK, items_->SetDatatypes(1, &handle, &type, errors.out()));
}

ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG NowTicks()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME time;
    SystemTimeToFileTime(&now, &time);
    return Ticks(time);
}
