#include "tests/opc/server/com_server_test_support.h"

#include "opc/server/server_capacity.h"

#include <gtest/gtest.h>

#include "opc/server/class_factory.h"
#include "opc/server/com_server_lifetime.h"
#include "tests/opc/include/task_memory.h"

namespace {

class ComServerEnvironment : public ::testing::Environment {
public:
    void SetUp() override { StartComServer(); }
    void TearDown() override { StopComServer(); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ComServerEnvironment);

}  // namespace

LONG RefCount(IUnknown* object)
{
    object->AddRef();
    return static_cast<LONG>(object->Release());
}

ScopedServerCapacity::ScopedServerCapacity(DWORD maxClients, DWORD maxGroupsPerClient)
{
    SetServerCapacity(maxClients, maxGroupsPerClient);
}

ScopedServerCapacity::~ScopedServerCapacity()
{
    SetServerCapacity(kDefaultServerCapacity.maxClients, kDefaultServerCapacity.maxGroupsPerClient);
}

ComPtr<IOPCServer> NewServer()
{
    ComPtr<IClassFactory> factory(new ServerClassFactory);
    ComPtr<IOPCServer> server;
    EXPECT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&server)));
    return server;
}

ComPtr<IOPCGroupStateMgt> AddGroup(IOPCServer* server, const wchar_t* name, OPCHANDLE* handle)
{
    OPCHANDLE serverHandle = 0;
    DWORD revised = 0;
    ComPtr<IOPCGroupStateMgt> group;
    EXPECT_HRESULT_SUCCEEDED(server->AddGroup(name, TRUE, 1000, 7, nullptr, nullptr, 0,
                                              &serverHandle, &revised, IID_IOPCGroupStateMgt,
                                              reinterpret_cast<IUnknown**>(group.GetAddressOf())));
    if (handle) *handle = serverHandle;
    return group;
}

GroupStateView StateOf(IOPCGroupStateMgt* group)
{
    GroupStateView view;
    TaskOut<wchar_t> name;
    EXPECT_EQ(S_OK, group->GetState(&view.rate, &view.active, name.out(), &view.timeBias,
                                    &view.deadband, &view.lcid, &view.client, &view.server));
    view.name = name.get() ? name.get() : L"(null)";
    return view;
}

HANDLE EndedProcess()
{
    wchar_t commandLine[] = L"cmd.exe /c exit";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, 30000);
    return process.hProcess;
}

void AddActiveItem(IUnknown* group, const wchar_t* itemId)
{
    ComPtr<IOPCItemMgt> items;
    ASSERT_EQ(S_OK, group->QueryInterface(IID_PPV_ARGS(&items)));
    OPCITEMDEF definition{};
    definition.szItemID = const_cast<LPWSTR>(itemId);
    definition.bActive = TRUE;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(S_OK, items->AddItems(1, &definition, &results, &errors));
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
}
