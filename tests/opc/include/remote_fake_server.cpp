#include "remote_fake_server.h"

#include "both_views_registration.h"
#include "fake_values.h"
#include "proxy_registration.h"
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

#ifdef SERVER_SIDE_IS_64_BIT
// This 32-bit test program lies in bin\x86, below the 64-bit fake server and proxy/stub DLL.
std::wstring server_side(const wchar_t* fileName)
{
    const std::wstring relative = BesideThisProgram(L"..\\") + fileName;
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, length);
}

registration::RegistryResult register_fake_server()
{
    return registration::register_in_both_views(
        HKEY_CLASSES_ROOT, kFakeClass,
        {server_side(fake::kExeName), server_side(kProxyDllName),
         BesideThisProgram(kProxyDllName)});
}

registration::RegistryResult unregister_fake_server()
{
    return registration::unregister_from_both_views(HKEY_CLASSES_ROOT, kFakeClass);
}
#else
registration::RegistryResult register_fake_server()
{
    registration::RegistryResult result =
        registration::register_proxy(HKEY_CLASSES_ROOT, BesideThisProgram(kProxyDllName));
    if (result.ok())
        result = registration::register_server_class(HKEY_CLASSES_ROOT, kFakeClass,
                                                     BesideThisProgram(fake::kExeName));
    return result;
}

registration::RegistryResult unregister_fake_server()
{
    registration::RegistryResult result =
        registration::unregister_server_class(HKEY_CLASSES_ROOT, kFakeClass);
    if (result.ok()) result = registration::unregister_proxy(HKEY_CLASSES_ROOT);
    return result;
}
#endif

class RemoteFakeServer : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(register_fake_server().ok());
        ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
        ASSERT_HRESULT_SUCCEEDED(
            CoCreateInstance(fake::kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server)));
    }
    void TearDown() override
    {
        // The last reference ends the fake server process.
        server.Reset();
        CoUninitialize();
        EXPECT_TRUE(unregister_fake_server().ok());
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
