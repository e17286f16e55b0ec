#include <gtest/gtest.h>

#include <vector>

#include "opc/server/caller_process.h"
#include "opc/server/class_factory.h"
#include "opc/server/server_capacity.h"
#include "opc/server/server_table.h"
#include "server_identity.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

ComPtr<IClassFactory> NewFactory()
{
    return ComPtr<IClassFactory>(new ServerClassFactory);
}

TEST(ClassFactory, IsRegisteredForTheServerClass)
{
    ComPtr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_ParhelionixOPCServer, CLSCTX_LOCAL_SERVER,
                                              nullptr, IID_PPV_ARGS(&factory)));
    ComPtr<IOPCServer> server;
    EXPECT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&server)));
}

TEST(ClassFactory, RefusedCreationsLeaveTheObjectCountUnchanged)
{
    ComPtr<IUnknown> outer = NewServer();
    const LONG before = g_objectCount;
    const struct {
        IUnknown* outer;
        const IID* iid;
        HRESULT hr;
    } cases[] = {
        {outer.Get(), &IID_IUnknown, CLASS_E_NOAGGREGATION},
        {nullptr, &IID_IOPCServerPublicGroups, E_NOINTERFACE},
        {nullptr, &IID_IOPCGroupStateMgt, E_NOINTERFACE},
    };
    for (const auto& c : cases) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(c.hr, NewFactory()->CreateInstance(c.outer, *c.iid, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_EQ(E_INVALIDARG, NewFactory()->CreateInstance(nullptr, IID_IOPCServer, nullptr));
    EXPECT_EQ(before, g_objectCount);
}

TEST(ClassFactory, HandsOutTheRequestedInterfaceAndCountsTheObject)
{
    const LONG before = g_objectCount;
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, NewFactory()->CreateInstance(nullptr, IID_PPV_ARGS(&unknown)));
    EXPECT_EQ(before + 1, g_objectCount);
    EXPECT_EQ(1, RefCount(unknown.Get()));  // the client's pointer is the only reference
    ComPtr<IOPCServer> server;
    ASSERT_EQ(S_OK, unknown.As(&server));
    ComPtr<IUnknown> primary;
    ASSERT_EQ(S_OK, server.As(&primary));
    EXPECT_EQ(unknown.Get(), primary.Get());
    server.Reset();
    primary.Reset();
    unknown.Reset();
    EXPECT_EQ(before, g_objectCount);
}

TEST(ClassFactory, RefusesATenthLiveServerObject)
{
    const LONG before = g_objectCount;
    std::vector<ComPtr<IOPCServer>> servers;
    for (int i = 0; i < kDefaultServerCapacity.maxClients; ++i) servers.push_back(NewServer());
    ASSERT_EQ(before + 9, g_objectCount);
    void* tenth = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_OUTOFMEMORY, NewFactory()->CreateInstance(nullptr, IID_IOPCServer, &tenth));
    EXPECT_EQ(nullptr, tenth);
    EXPECT_EQ(before + 9, g_objectCount);
    // A freed entry serves the next object.
    servers.pop_back();
    EXPECT_TRUE(NewServer());
}

TEST(ClassFactory, LockServerCountsWithoutFloor)
{
    ComPtr<IClassFactory> factory = NewFactory();
    ASSERT_EQ(0, g_objectCount);
    ASSERT_EQ(0, g_lockCount);
    EXPECT_FALSE(ServerInUse());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(-1, g_lockCount);
    EXPECT_TRUE(ServerInUse());  // a negative count is in use too
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(1, g_lockCount);
    EXPECT_TRUE(ServerInUse());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_FALSE(ServerInUse());
    ComPtr<IOPCServer> server = NewServer();
    EXPECT_TRUE(ServerInUse());
}

struct VersionCase {
    const char* name;
    const char* version;  // null: not Wine
    bool known;
};

class CallerProcessGuard : public testing::TestWithParam<VersionCase> {};

// Another layout read as Wine 8.0's would crash every activation: only that version is read.
TEST_P(CallerProcessGuard, ReadsWinesRecordOnlyForAVersionWhoseLayoutIsKnown)
{
    EXPECT_EQ(GetParam().known, ChannelRecordLayoutKnown(GetParam().version));
}

INSTANTIATE_TEST_SUITE_P(
    WineVersions, CallerProcessGuard,
    testing::Values(VersionCase{"Wine8_0", "8.0", true}, VersionCase{"Wine8_0_1", "8.0.1", false},
                    VersionCase{"Wine8_0rc1", "8.0-rc1", false},
                    VersionCase{"Wine7_0", "7.0", false}, VersionCase{"Wine9_0", "9.0", false},
                    VersionCase{"Wine8", "8", false}, VersionCase{"Empty", "", false},
                    VersionCase{"NotWine", nullptr, false}),
    [](const testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

// Runs `work` on a thread of the multithreaded apartment while this thread, the class object's
// apartment, serves the calls it makes; returns what `work` returned.
template <class Work>
HRESULT OnMtaThread(Work work)
{
    struct Call {
        Work& work;
        HRESULT result = E_FAIL;
    } call{work};
    const auto body = [](void* parameter) -> DWORD {
        auto* running = static_cast<Call*>(parameter);
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
        running->result = running->work();
        CoUninitialize();
        return 0;
    };
    HANDLE thread = CreateThread(nullptr, 0, body, &call, 0, nullptr);
    if (!thread) return E_FAIL;
    DWORD index = 0;
    const HRESULT waited = CoWaitForMultipleHandles(0, 30000, 1, &thread, &index);
    CloseHandle(thread);
    return SUCCEEDED(waited) ? call.result : waited;
}

TEST(ClassFactory, AnMtaThreadOfTheServerActivatesTheServerClass)
{
    EXPECT_EQ(S_OK, OnMtaThread([] {
                  ComPtr<IUnknown> server;
                  return CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                          IID_PPV_ARGS(&server));
              }));
}

TEST(ClassFactory, AnMtaThreadOfTheServerMarshalsAClassFactory)
{
    EXPECT_EQ(S_OK, OnMtaThread([] {
                  ComPtr<IStream> stream;
                  const HRESULT hr = CoMarshalInterThreadInterfaceInStream(
                      IID_IClassFactory, NewFactory().Get(), &stream);
                  if (SUCCEEDED(hr)) CoReleaseMarshalData(stream.Get());
                  return hr;
              }));
}

}  // namespace
