#include "remote_fake_server.h"

#include "both_views_registration.h"
#include "fake_values.h"
#include "opc_error.h"
#include "proxy_registration.h"
#include "server_identity.h"
#include "task_memory.h"
#include "tests/support/beside_this_program.h"

#include <gtest/gtest.h>

#include <cwchar>
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

void expect_value(const VARIANT& expected, const VARIANT& actual, const char* what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(expected.vt, actual.vt);
    switch (expected.vt) {
    case VT_EMPTY:
        break;
    case VT_I2:
        EXPECT_EQ(expected.iVal, actual.iVal);
        break;
    case VT_R4:
        EXPECT_FLOAT_EQ(expected.fltVal, actual.fltVal);
        break;
    case VT_BOOL:
        EXPECT_EQ(expected.boolVal, actual.boolVal);
        break;
    case VT_BSTR:
        ASSERT_NE(nullptr, actual.bstrVal);
        EXPECT_STREQ(expected.bstrVal, actual.bstrVal);
        EXPECT_EQ(SysStringLen(expected.bstrVal), SysStringLen(actual.bstrVal));
        break;
    default:
        ADD_FAILURE() << "unexpected type " << expected.vt;
    }
}

LONG remote_live_task_blocks()
{
    TaskOut<wchar_t> text;
    EXPECT_EQ(S_OK, remote_server()->GetErrorString(fake::kLiveTaskBlocksCode, 0, text.out()));
    return text.get() ? std::wcstol(text.get(), nullptr, 10) : -1;
}

void expect_server_frees_each_call(const char* what, const std::function<HRESULT()>& call)
{
    SCOPED_TRACE(what);
    constexpr LONG kCalls = 20;
    const LONG before = remote_live_task_blocks();
    for (LONG i = 0; i < kCalls; ++i) ASSERT_HRESULT_SUCCEEDED(call());
    EXPECT_LT(remote_live_task_blocks() - before, kCalls) << "a block stays behind per call";
}

VqtWrites::VqtWrites()
{
    const struct {
        VARTYPE type;
        BOOL qualitySpecified;
        WORD quality;
        BOOL timestampSpecified;
        FILETIME timestamp;
    } cases[kCount] = {
        {VT_BSTR, TRUE, OPC_QUALITY_GOOD | OPC_LIMIT_CONST, TRUE, {0x89ABCDEF, 0x01DA0102}},
        {VT_R4, FALSE, 0x1234, TRUE, {1, 2}},
        {VT_BOOL, TRUE, OPC_QUALITY_UNCERTAIN, FALSE, {7, 7}},
        {VT_R4, FALSE, 0x4321, FALSE, {9, 9}},
        {VT_EMPTY, TRUE, OPC_QUALITY_GOOD, TRUE, {3, 3}},  // refused: no value
        {VT_R4, TRUE, OPC_QUALITY_GOOD, TRUE, {4, 4}},
    };
    for (DWORD i = 0; i < kCount; ++i) {
        OPCITEMVQT& v = vqt[i];
        VariantInit(&v.vDataValue);
        v.vDataValue.vt = cases[i].type;
        if (cases[i].type == VT_BSTR) v.vDataValue.bstrVal = SysAllocString(L"写入 VQT 值");
        if (cases[i].type == VT_R4) v.vDataValue.fltVal = -7.5f * static_cast<float>(i);
        if (cases[i].type == VT_BOOL) v.vDataValue.boolVal = VARIANT_FALSE;
        v.bQualitySpecified = cases[i].qualitySpecified;
        v.wQuality = cases[i].quality;
        v.wReserved = 0;
        v.bTimeStampSpecified = cases[i].timestampSpecified;
        v.dwReserved = 0;
        v.ftTimeStamp = cases[i].timestamp;
    }
}

VqtWrites::~VqtWrites()
{
    for (OPCITEMVQT& v : vqt) VariantClear(&v.vDataValue);
}

std::vector<HRESULT> VqtWrites::errors(HRESULT unknownItem) const
{
    return {S_OK, S_OK, S_OK, S_OK, OPC_E_BADTYPE, unknownItem};
}

void VqtWrites::expect_read_back(DWORD i, OPCHANDLE h, DWORD maxAge, const VARIANT& value,
                                 WORD quality, const FILETIME& timestamp) const
{
    SCOPED_TRACE(testing::Message() << "VQT entry " << i);
    const OPCITEMVQT& sent = vqt[i];
    expect_value(sent.vDataValue, value, "written value");
    EXPECT_EQ(sent.bQualitySpecified ? sent.wQuality : fake::quality_of(h), quality);
    const FILETIME expected =
        sent.bTimeStampSpecified ? sent.ftTimeStamp : fake::max_age_timestamp(h, maxAge);
    EXPECT_EQ(expected.dwLowDateTime, timestamp.dwLowDateTime);
    EXPECT_EQ(expected.dwHighDateTime, timestamp.dwHighDateTime);
}
