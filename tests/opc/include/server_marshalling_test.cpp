// IOPCServer, IOPCServerPublicGroups and IOPCBrowseServerAddressSpace across processes: every
// argument of every method, against the fake server's fixed answers.
#include "fake_values.h"
#include "opc_error.h"
#include "remote_fake_server.h"
#include "task_memory.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// Every string left in an enumerator, read a few at a time so that Next crosses with celt > 1.
std::vector<std::wstring> drain(IEnumString* strings)
{
    std::vector<std::wstring> all;
    for (;;) {
        LPOLESTR batch[2] = {};
        ULONG fetched = 0;
        const HRESULT hr = strings->Next(2, batch, &fetched);
        EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
        for (ULONG i = 0; i < fetched; ++i) {
            all.emplace_back(batch[i] ? batch[i] : L"<null>");
            CoTaskMemFree(batch[i]);
        }
        if (hr != S_OK) return all;
    }
}

std::wstring expected_error_string(HRESULT code, LCID locale)
{
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"%08lX @%lu", static_cast<unsigned long>(code),
                  static_cast<unsigned long>(locale));
    return std::wstring(fake::kErrorStringPrefix) + text;
}

TEST(ServerMarshalling, GetErrorStringDeliversTheString)
{
    const struct {
        HRESULT code;
        LCID locale;
    } cases[] = {{S_OK, 0x409}, {E_FAIL, 0x804}, {OPC_E_INVALIDHANDLE, 0}, {OPC_S_CLAMP, 0x804}};
    for (const auto& c : cases) {
        TaskOut<wchar_t> text;
        ASSERT_EQ(S_OK, remote_server()->GetErrorString(c.code, c.locale, text.out()));
        ASSERT_NE(nullptr, text.get()) << "string out-parameter arrived NULL";
        EXPECT_EQ(expected_error_string(c.code, c.locale), text.get());
    }
}

TEST(ServerMarshalling, GetStatusDeliversEveryField)
{
    TaskOut<OPCSERVERSTATUS> status;
    ASSERT_EQ(S_OK, remote_server()->GetStatus(status.out()));
    ASSERT_NE(nullptr, status.get());
    const OPCSERVERSTATUS& s = *status.get();
    TaskMem<wchar_t> vendor(s.szVendorInfo);
    EXPECT_EQ(0, CompareFileTime(&fake::kStartTime, &s.ftStartTime));
    EXPECT_EQ(0, CompareFileTime(&fake::kCurrentTime, &s.ftCurrentTime));
    EXPECT_EQ(0, CompareFileTime(&fake::kLastUpdateTime, &s.ftLastUpdateTime));
    EXPECT_EQ(OPC_STATUS_TEST, s.dwServerState);
    EXPECT_EQ(fake::kGroupCount, s.dwGroupCount);
    EXPECT_EQ(fake::kBandWidth, s.dwBandWidth);
    EXPECT_EQ(fake::kMajorVersion, s.wMajorVersion);
    EXPECT_EQ(fake::kMinorVersion, s.wMinorVersion);
    EXPECT_EQ(fake::kBuildNumber, s.wBuildNumber);
    EXPECT_EQ(fake::kReserved, s.wReserved);
    ASSERT_NE(nullptr, vendor.get());
    EXPECT_STREQ(fake::kVendor, vendor.get());
}

TEST(ServerMarshalling, AddGroupArgumentsArriveAndComeBackThroughGetState)
{
    LONG timeBias = -480;
    FLOAT deadband = 2.5f;
    OPCHANDLE hServer = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, remote_server()->AddGroup(fake::kGroupNameA, TRUE, 1000, 0x1234, &timeBias,
                                              &deadband, 0x804, &hServer, &revised, IID_IUnknown,
                                              unknown.GetAddressOf()));
    EXPECT_GE(hServer, fake::kFirstServerGroup);
    EXPECT_EQ(1001u, revised);
    ComPtr<IOPCGroupStateMgt> group;
    ASSERT_HRESULT_SUCCEEDED(unknown.As(&group));

    const GroupStateSeen seen = get_state(group.Get());
    EXPECT_EQ(fake::kGroupNameA, seen.name);
    EXPECT_EQ(1001u, seen.rate);
    EXPECT_EQ(TRUE, seen.active);
    EXPECT_EQ(-480, seen.bias);
    EXPECT_FLOAT_EQ(2.5f, seen.deadband);
    EXPECT_EQ(0x804u, seen.lcid);
    EXPECT_EQ(0x1234u, seen.hClient);
    EXPECT_EQ(hServer, seen.hServer);
    EXPECT_EQ(S_OK, remote_server()->RemoveGroup(hServer, TRUE));
}

TEST(ServerMarshalling, AddGroupWithoutTimeBiasOrDeadbandCrossesAsNull)
{
    OPCHANDLE hServer = 0;
    DWORD revised = 0;
    ComPtr<IOPCGroupStateMgt> group;
    ASSERT_EQ(S_OK, remote_server()->AddGroup(L"no bias", FALSE, 0, 0, nullptr, nullptr, 0,
                                              &hServer, &revised, IID_IOPCGroupStateMgt,
                                              reinterpret_cast<IUnknown**>(group.GetAddressOf())));
    const GroupStateSeen seen = get_state(group.Get());
    EXPECT_EQ(0, seen.bias);
    EXPECT_EQ(0.0f, seen.deadband);
    EXPECT_EQ(FALSE, seen.active);
    EXPECT_EQ(S_OK, remote_server()->RemoveGroup(hServer, TRUE));
}

// szName is a [ref] string in the published declaration: a client cannot send NULL through the
// proxy, so a server's default name for a null szName is only reachable in-process.
TEST(ServerMarshalling, AddGroupWithNullNameIsRefusedByTheProxy)
{
    OPCHANDLE hServer = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> group;
    const HRESULT hr = remote_server()->AddGroup(nullptr, TRUE, 0, 0, nullptr, nullptr, 0, &hServer,
                                                 &revised, IID_IUnknown, group.GetAddressOf());
    EXPECT_EQ(HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER), hr);
    EXPECT_EQ(nullptr, group.Get());
}

TEST(ServerMarshalling, GetGroupByNameAndRemoveGroup)
{
    OPCHANDLE hServer = 0;
    ComPtr<IOPCGroupStateMgt> added = add_remote_group(L"查找 me", &hServer);
    ComPtr<IUnknown> found;
    ASSERT_EQ(S_OK,
              remote_server()->GetGroupByName(L"查找 me", IID_IUnknown, found.GetAddressOf()));
    ComPtr<IUnknown> addedIdentity;
    ASSERT_HRESULT_SUCCEEDED(added.As(&addedIdentity));
    EXPECT_EQ(addedIdentity.Get(), found.Get()) << "one group, one COM identity in the client";

    ComPtr<IUnknown> missing;
    EXPECT_EQ(E_FAIL,
              remote_server()->GetGroupByName(L"查找", IID_IUnknown, missing.GetAddressOf()));
    EXPECT_EQ(nullptr, missing.Get());

    EXPECT_EQ(S_FALSE, remote_server()->RemoveGroup(hServer, FALSE)) << "bForce FALSE arrives";
    OPCHANDLE again = 0;
    ComPtr<IOPCGroupStateMgt> readded = add_remote_group(L"again", &again);
    EXPECT_EQ(S_OK, remote_server()->RemoveGroup(again, TRUE));
    EXPECT_EQ(E_FAIL, remote_server()->RemoveGroup(again, TRUE));
}

TEST(ServerMarshalling, CreateGroupEnumeratorGivesStringsAndObjects)
{
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, remote_server()->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString,
                                                           unknown.GetAddressOf()));
    ComPtr<IEnumString> names;
    ASSERT_HRESULT_SUCCEEDED(unknown.As(&names));
    EXPECT_EQ((std::vector<std::wstring>{fake::kGroupNameA, fake::kGroupNameB}),
              drain(names.Get()));

    OPCHANDLE hServer = 0;
    ComPtr<IOPCGroupStateMgt> added = add_remote_group(L"枚举", &hServer);
    ComPtr<IUnknown> objectsUnknown;
    ASSERT_EQ(S_OK, remote_server()->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown,
                                                           objectsUnknown.GetAddressOf()));
    ComPtr<IEnumUnknown> objects;
    ASSERT_HRESULT_SUCCEEDED(objectsUnknown.As(&objects));
    IUnknown* batch[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, objects->Next(4, batch, &fetched));
    ASSERT_GE(fetched, 1u);
    bool sawAdded = false;
    for (ULONG i = 0; i < fetched; ++i) {
        ComPtr<IUnknown> object;
        object.Attach(batch[i]);
        ComPtr<IOPCGroupStateMgt> state;
        ASSERT_HRESULT_SUCCEEDED(object.As(&state)) << "enumerated groups are usable";
        ComPtr<IUnknown> addedIdentity;
        ASSERT_HRESULT_SUCCEEDED(added.As(&addedIdentity));
        sawAdded = sawAdded || addedIdentity.Get() == object.Get();
    }
    EXPECT_TRUE(sawAdded);
    ComPtr<IEnumUnknown> clone;
    ASSERT_EQ(S_OK, objects->Clone(clone.GetAddressOf()));
    EXPECT_EQ(S_OK, clone->Reset());
    EXPECT_EQ(S_OK, remote_server()->RemoveGroup(hServer, TRUE));

    ComPtr<IUnknown> refused;
    EXPECT_EQ(E_INVALIDARG, remote_server()->CreateGroupEnumerator(OPC_ENUM_PUBLIC, IID_IEnumString,
                                                                   refused.GetAddressOf()))
        << "the scope arrives";
}

TEST(ServerMarshalling, PublicGroupsMethods)
{
    ComPtr<IOPCServerPublicGroups> publicGroups;
    ASSERT_HRESULT_SUCCEEDED(remote_server()->QueryInterface(IID_PPV_ARGS(&publicGroups)));
    OPCHANDLE hServer = 0;
    ComPtr<IOPCGroupStateMgt> added = add_remote_group(L"public source", &hServer);
    ComPtr<IOPCGroupStateMgt> group;
    EXPECT_EQ(S_OK, publicGroups->GetPublicGroupByName(
                        fake::kPublicGroupName, IID_IOPCGroupStateMgt,
                        reinterpret_cast<IUnknown**>(group.GetAddressOf())));
    EXPECT_NE(nullptr, group.Get());
    EXPECT_EQ(S_OK, publicGroups->RemovePublicGroup(fake::kPublicGroupHandle, TRUE));
    EXPECT_EQ(E_FAIL, publicGroups->RemovePublicGroup(fake::kPublicGroupHandle, FALSE));
    EXPECT_EQ(S_OK, remote_server()->RemoveGroup(hServer, TRUE));
}

class BrowseMarshalling : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(remote_server()->QueryInterface(IID_PPV_ARGS(&browse)));
    }
    ComPtr<IOPCBrowseServerAddressSpace> browse;
};

TEST_F(BrowseMarshalling, QueryOrganizationAndChangeBrowsePosition)
{
    OPCNAMESPACETYPE type = OPC_NS_HIERARCHIAL;
    ASSERT_EQ(S_OK, browse->QueryOrganization(&type));
    EXPECT_EQ(OPC_NS_FLAT, type);
    EXPECT_EQ(S_OK, browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, fake::kBranch));
    EXPECT_EQ(E_FAIL, browse->ChangeBrowsePosition(OPC_BROWSE_UP, fake::kBranch));
    EXPECT_EQ(E_FAIL, browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"other"));
}

TEST_F(BrowseMarshalling, BrowseOPCItemIDsEnumeratorWalksAcrossProcesses)
{
    ComPtr<IEnumString> leaves;
    ASSERT_EQ(S_OK, browse->BrowseOPCItemIDs(OPC_LEAF, fake::kLeafFilter, VT_R4,
                                             OPC_READABLE | OPC_WRITEABLE, leaves.GetAddressOf()));
    ASSERT_NE(nullptr, leaves.Get());
    const std::vector<std::wstring> all{fake::kLeafA, fake::kLeafB, L""};
    EXPECT_EQ(all, drain(leaves.Get()));

    EXPECT_EQ(S_OK, leaves->Reset());
    EXPECT_EQ(S_OK, leaves->Skip(1));
    ComPtr<IEnumString> clone;
    ASSERT_EQ(S_OK, leaves->Clone(clone.GetAddressOf()));
    EXPECT_EQ((std::vector<std::wstring>{fake::kLeafB, L""}), drain(clone.Get()));
    EXPECT_EQ(S_FALSE, leaves->Skip(5));

    LPOLESTR one = nullptr;
    EXPECT_EQ(S_OK, leaves->Reset());
    ASSERT_EQ(S_OK, leaves->Next(1, &one, nullptr));
    TaskMem<wchar_t> owner(one);
    EXPECT_STREQ(fake::kLeafA, one);

    ComPtr<IEnumString> refused;
    EXPECT_EQ(E_FAIL,
              browse->BrowseOPCItemIDs(OPC_BRANCH, fake::kLeafFilter, VT_R4,
                                       OPC_READABLE | OPC_WRITEABLE, refused.GetAddressOf()));
    EXPECT_EQ(E_FAIL,
              browse->BrowseOPCItemIDs(OPC_LEAF, fake::kLeafFilter, VT_BSTR,
                                       OPC_READABLE | OPC_WRITEABLE, refused.GetAddressOf()));
    EXPECT_EQ(E_FAIL, browse->BrowseOPCItemIDs(OPC_LEAF, fake::kLeafFilter, VT_R4, OPC_READABLE,
                                               refused.GetAddressOf()));
}

TEST_F(BrowseMarshalling, GetItemIDDeliversTheString)
{
    for (const wchar_t* leaf : {fake::kLeafA, fake::kLeafB, L"", L" spaced 名字 "}) {
        TaskOut<wchar_t> itemId;
        ASSERT_EQ(S_OK, browse->GetItemID(const_cast<LPWSTR>(leaf), itemId.out()));
        ASSERT_NE(nullptr, itemId.get()) << "string out-parameter arrived NULL";
        EXPECT_EQ(std::wstring(fake::kItemIdPrefix) + leaf, itemId.get());
    }
}

TEST_F(BrowseMarshalling, BrowseAccessPaths)
{
    ComPtr<IEnumString> paths;
    ASSERT_EQ(S_OK, browse->BrowseAccessPaths(fake::kLeafA, paths.GetAddressOf()));
    EXPECT_EQ((std::vector<std::wstring>{fake::kAccessPath, fake::kLeafA}), drain(paths.Get()));
}

}  // namespace
