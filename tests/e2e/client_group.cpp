#include "tests/e2e/client_group.h"

#include <gtest/gtest.h>

#include "tests/opc/include/task_memory.h"

Microsoft::WRL::ComPtr<IOPCItemMgt> AddClientGroup(IOPCServer& server, const wchar_t* name,
                                                   OPCHANDLE clientHandle,
                                                   OPCHANDLE* serverHandle)
{
    Microsoft::WRL::ComPtr<IOPCItemMgt> items;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    EXPECT_EQ(S_OK, server.AddGroup(name, TRUE, 1000, clientHandle, nullptr, nullptr, 0, &handle,
                                    &revised, IID_IOPCItemMgt,
                                    reinterpret_cast<IUnknown**>(items.GetAddressOf())));
    if (serverHandle) *serverHandle = handle;
    return items;
}

std::vector<OPCHANDLE> AddActiveItems(IOPCItemMgt& items, const std::vector<std::wstring>& itemIds)
{
    std::vector<OPCITEMDEF> definitions(itemIds.size());
    for (size_t i = 0; i < itemIds.size(); ++i) {
        definitions[i].szItemID = const_cast<LPWSTR>(itemIds[i].c_str());
        definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
        definitions[i].bActive = TRUE;
        definitions[i].hClient = static_cast<OPCHANDLE>(i + 1);
    }
    TaskOut<OPCITEMRESULT> results;
    TaskOut<HRESULT> errors;
    EXPECT_EQ(S_OK, items.AddItems(static_cast<DWORD>(definitions.size()), definitions.data(),
                                   results.out(), errors.out()));
    std::vector<OPCHANDLE> handles;
    for (size_t i = 0; results.get() && i < itemIds.size(); ++i) {
        handles.push_back(results[i].hServer);
    }
    return handles;
}
