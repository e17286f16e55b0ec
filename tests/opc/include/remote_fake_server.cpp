#include "remote_fake_server.h"

#include "fake_values.h"
#include "proxy_registration.h"
#include "server_class_registration.h"
#include "server_identity.h"
#include "task_memory.h"
#include "tests/support/beside_this_program.h"

#include <gtest/gtest.h>

#include <string>

using Microsoft::WRL::ComPtr;

namespace {

const registration::ServerClass kFakeClass = {fake::kClsid, L"Parhelionix fake OPC server (tests)",
                                              L"Parhelionix.FakeOPCServer.1",
                                              L"Parhelionix.FakeOPCServer"};

class RemoteFakeServer : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(
            registration::register_proxy(HKEY_CLASSES_ROOT, BesideThisProgram(kProxyDllName)).ok());
        ASSERT_TRUE(registration::register_server_class(HKEY_CLASSES_ROOT, kFakeClass,
                                                        BesideThisProgram(fake::kExeName))
                        .ok());
        ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
        ASSERT_HRESULT_SUCCEEDED(
            CoCreateInstance(fake::kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server)));
    }
    void TearDown() override
    {
        // The last reference ends the fake server process.
        server.Reset();
        CoUninitialize();
        EXPECT_TRUE(registration::unregister_server_class(HKEY_CLASSES_ROOT, kFakeClass).ok());
        EXPECT_TRUE(registration::unregister_proxy(HKEY_CLASSES_ROOT).ok());
    }

    ComPtr<IOPCServer> server;
};

RemoteFakeServer* const environment =
    static_cast<RemoteFakeServer*>(::testing::AddGlobalTestEnvironment(new RemoteFakeServer));

}  // namespace

IOPCServer* remote_server()
{
    return environment->server.Get();
}

ComPtr<IOPCGroupStateMgt> add_remote_group(const wchar_t* name, OPCHANDLE* hServer)
{
    LONG timeBias = -480;
    FLOAT deadband = 2.5f;
    DWORD revised = 0;
    ComPtr<IOPCGroupStateMgt> group;
    const HRESULT hr = remote_server()->AddGroup(
        name, TRUE, 1000, 0x1234, &timeBias, &deadband, 0x804, hServer, &revised,
        IID_IOPCGroupStateMgt, reinterpret_cast<IUnknown**>(group.GetAddressOf()));
    EXPECT_HRESULT_SUCCEEDED(hr);
    return group;
}

GroupStateSeen get_state(IOPCGroupStateMgt* group)
{
    GroupStateSeen seen;
    TaskOut<wchar_t> name;
    EXPECT_EQ(S_OK, group->GetState(&seen.rate, &seen.active, name.out(), &seen.bias,
                                    &seen.deadband, &seen.lcid, &seen.hClient, &seen.hServer));
    EXPECT_NE(nullptr, name.get()) << "string out-parameter arrived NULL";
    if (name.get()) seen.name = name.get();
    return seen;
}
