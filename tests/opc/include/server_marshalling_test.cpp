// IOPCServer, IOPCServerPublicGroups, IOPCBrowseServerAddressSpace, IOPCBrowse and IOPCItemIO
// across processes: every argument of every method, against the fake server's fixed answers.
#include "fake_values.h"
#include "opc_error.h"
#include "remote_fake_server.h"
#include "task_block_count.h"
#include "task_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <optional>
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

// A task-allocated copy, as a client sends a continuation point.
LPWSTR task_copy(const std::wstring& text)
{
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy) std::copy(text.c_str(), text.c_str() + text.size() + 1, copy);
    return copy;
}

std::wstring text_of(const wchar_t* text)
{
    return text ? text : L"<null>";
}

// Checks one property of `item` as it arrived, against the fake's properties, and frees it.
void take_property(const std::wstring& item, DWORD askedId, bool withValues,
                   OPCITEMPROPERTY& arrived)
{
    SCOPED_TRACE(testing::Message() << "property " << askedId);
    TaskMem<wchar_t> itemId(arrived.szItemID), description(arrived.szDescription);
    EXPECT_EQ(askedId, arrived.dwPropertyID);
    const auto known =
        std::find(std::begin(fake::kPropertyIds), std::end(fake::kPropertyIds), askedId);
    ScopedVariant expected;
    if (known == std::end(fake::kPropertyIds)) {
        EXPECT_EQ(OPC_E_INVALID_PID, arrived.hrErrorID);
        EXPECT_EQ(VT_EMPTY, arrived.vtDataType);
        EXPECT_EQ(L"<null>", text_of(description.get()));
        EXPECT_EQ(L"<null>", text_of(itemId.get()));
    } else {
        const size_t index = known - std::begin(fake::kPropertyIds);
        EXPECT_EQ(S_OK, arrived.hrErrorID);
        EXPECT_EQ(fake::kPropertyTypes[index], arrived.vtDataType);
        EXPECT_EQ(fake::property_description(index, item), text_of(description.get()));
        EXPECT_EQ(askedId > 6 ? fake::property_item_id(item, askedId) : L"<null>",
                  text_of(itemId.get()));
        if (withValues) fake::property_value(askedId, item, expected.get());
    }
    expect_value(*expected, arrived.vValue, "property value");
    VariantClear(&arrived.vValue);
}

// Checks the properties of `item` as they arrived and frees them: `askedIds` in order, each
// unknown one an entry with its error, which makes the item's error S_FALSE.
void take_properties(const std::wstring& item, const std::vector<DWORD>& askedIds, bool withValues,
                     OPCITEMPROPERTIES& arrived)
{
    SCOPED_TRACE(testing::Message() << "properties of " << testing::PrintToString(item));
    TaskMem<OPCITEMPROPERTY> owner(arrived.pItemProperties);
    const bool anyUnknown = std::any_of(askedIds.begin(), askedIds.end(), [](DWORD id) {
        return std::find(std::begin(fake::kPropertyIds), std::end(fake::kPropertyIds), id) ==
               std::end(fake::kPropertyIds);
    });
    EXPECT_EQ(anyUnknown ? S_FALSE : S_OK, arrived.hrErrorID);
    ASSERT_EQ(askedIds.size(), arrived.dwNumProperties);
    if (askedIds.empty()) {
        EXPECT_EQ(nullptr, arrived.pItemProperties);
    }
    for (size_t i = 0; i < askedIds.size(); ++i)
        take_property(item, askedIds[i], withValues, arrived.pItemProperties[i]);
}

const std::vector<DWORD> kAllProperties(std::begin(fake::kPropertyIds),
                                        std::end(fake::kPropertyIds));

// A page of IOPCBrowse::Browse under fake::kBranch: the continuation point sent (nullopt for
// NULL) and what must come back, with the entries of fake::kBrowseEntries listed.
struct BrowseCase {
    const char* what;
    std::optional<std::wstring> continuationIn;
    DWORD maxElements;
    OPCBROWSEFILTER filter;
    const wchar_t* nameFilter;
    BOOL allProperties;
    std::vector<DWORD> propertyIds;
    BOOL values;
    HRESULT hr;
    std::vector<size_t> listed;
    std::optional<size_t> continuationOut;  // the next entry, nullopt for NULL
};

// Checks a page as it arrived and frees everything it holds.
void take_page(const BrowseCase& c, LPWSTR continuation, BOOL more, DWORD count,
               OPCBROWSEELEMENT* elements)
{
    TaskMem<wchar_t> returned(continuation);
    TaskMem<OPCBROWSEELEMENT> owner(elements);
    if (FAILED(c.hr)) {
        EXPECT_EQ(text_of(c.continuationIn ? c.continuationIn->c_str() : nullptr),
                  text_of(returned.get()));
        return;
    }
    EXPECT_EQ(c.continuationOut ? fake::continuation_point(*c.continuationOut) : L"<null>",
              text_of(returned.get()));
    EXPECT_EQ(c.continuationOut ? TRUE : FALSE, more);
    ASSERT_EQ(c.listed.size(), count);
    ASSERT_NE(nullptr, elements);
    for (DWORD i = 0; i < count; ++i) {
        const fake::BrowseEntry& entry = fake::kBrowseEntries[c.listed[i]];
        OPCBROWSEELEMENT& element = elements[i];
        TaskMem<wchar_t> name(element.szName), itemId(element.szItemID);
        const std::wstring expectedId = fake::kItemIdPrefix + std::wstring(entry.name);
        EXPECT_EQ(entry.name, text_of(name.get()));
        EXPECT_EQ(expectedId, text_of(itemId.get()));
        EXPECT_EQ(entry.flags, element.dwFlagValue);
        const bool isItem = entry.flags & OPC_BROWSE_ISITEM;
        take_properties(expectedId,
                        !isItem           ? std::vector<DWORD>{}
                        : c.allProperties ? kAllProperties
                                          : c.propertyIds,
                        c.values, element.ItemProperties);
    }
}

// Browse and GetProperties: the strings of OPCBROWSEELEMENT and OPCITEMPROPERTY, nested arrays
// of properties with values of several types, a per-property error, and the continuation point
// going in NULL, empty or not, and coming back changed or NULL.
TEST(ServerMarshalling, BrowseDeliversElementsPropertiesAndContinuationPoints)
{
    ComPtr<IOPCBrowse> browse;
    ASSERT_HRESULT_SUCCEEDED(remote_server()->QueryInterface(IID_PPV_ARGS(&browse)));
    ASSERT_TRUE(fake::count_task_blocks());
    const std::vector<DWORD> someUnknown = {2, fake::kUnknownProperty, 101, 5000};
    const BrowseCase cases[] = {
        {"first page",
         std::nullopt,
         2,
         OPC_BROWSE_FILTER_ALL,
         L"",
         TRUE,
         {},
         TRUE,
         S_OK,
         {0, 1},
         2},
        {"a page whose continuation point shrinks",
         fake::continuation_point(2),
         2,
         OPC_BROWSE_FILTER_ALL,
         L"",
         TRUE,
         {},
         TRUE,
         S_OK,
         {2, 3},
         4},
        {"the last page",
         fake::continuation_point(4),
         2,
         OPC_BROWSE_FILTER_ALL,
         L"",
         TRUE,
         {},
         FALSE,
         S_OK,
         {4},
         std::nullopt},
        {"a page whose continuation point grows",
         fake::continuation_point(1),
         1,
         OPC_BROWSE_FILTER_ALL,
         L"",
         FALSE,
         {},
         FALSE,
         S_OK,
         {1},
         2},
        {"an empty continuation point starts over",
         std::wstring(),
         0,
         OPC_BROWSE_FILTER_ALL,
         L"",
         FALSE,
         {5000},
         TRUE,
         S_OK,
         {0, 1, 2, 3, 4},
         std::nullopt},
        {"items with a property unknown, without values",
         std::nullopt,
         0,
         OPC_BROWSE_FILTER_ITEMS,
         L"",
         FALSE,
         someUnknown,
         FALSE,
         S_FALSE,
         {1, 2, 3, 4},
         std::nullopt},
        {"items with a property unknown, with values",
         std::nullopt,
         3,
         OPC_BROWSE_FILTER_ITEMS,
         L"",
         FALSE,
         someUnknown,
         TRUE,
         S_FALSE,
         {1, 2, 3},
         4},
        {"branches",
         std::nullopt,
         0,
         OPC_BROWSE_FILTER_BRANCHES,
         L"",
         TRUE,
         {},
         TRUE,
         S_OK,
         {0, 2},
         std::nullopt},
        {"a name filter",
         std::nullopt,
         0,
         OPC_BROWSE_FILTER_ALL,
         L"温",
         TRUE,
         {},
         TRUE,
         S_OK,
         {1},
         std::nullopt},
        {"an unknown continuation point comes back as sent",
         L"不是 continuation",
         0,
         OPC_BROWSE_FILTER_ALL,
         L"",
         FALSE,
         {},
         FALSE,
         E_INVALIDARG,
         {},
         std::nullopt},
    };
    for (const BrowseCase& c : cases) {
        SCOPED_TRACE(c.what);
        LPWSTR continuation = c.continuationIn ? task_copy(*c.continuationIn) : nullptr;
        const LPWSTR sent = continuation;
        std::vector<DWORD> ids = c.propertyIds;
        ids.push_back(0);  // an array even when no ID is sent: the proxy refuses NULL
        BOOL more = 2;
        DWORD count = 12345;
        OPCBROWSEELEMENT* elements = nullptr;
        const LONG before = fake::live_task_blocks();
        const HRESULT hr = browse->Browse(
            const_cast<LPWSTR>(fake::kBranch), &continuation, c.maxElements, c.filter,
            const_cast<LPWSTR>(c.nameFilter), const_cast<LPWSTR>(L""), c.allProperties, c.values,
            static_cast<DWORD>(c.propertyIds.size()), ids.data(), &more, &count, &elements);
        EXPECT_EQ(c.hr, hr);
        take_page(c, continuation, more, count, elements);
        // By COM's rule for [in, out] the callee frees the value sent in, so in the caller's
        // process the proxy should free the continuation point sent; Wine's leaves it (rpcrt4
        // only warns about the object pointer it should free) and allocates the one coming back
        // anew. (Counted without values: freed BSTRs stay in oleaut32's cache, counted as alive.)
        if (!c.values) {
            EXPECT_EQ(0, fake::live_task_blocks() - before)
                << "the proxy freed the continuation point sent, or left a block of its own";
        }
        if (continuation != sent) CoTaskMemFree(sent);
    }

    // GetProperties: no IDs ask for every property; an unknown item has none and its error.
    const std::wstring itemA = fake::kItemIdPrefix + std::wstring(fake::kLeafA);
    const std::wstring itemB = fake::kItemIdPrefix + std::wstring(L"中文 B");
    const std::vector<std::pair<std::vector<DWORD>, BOOL>> asks = {
        {{}, TRUE}, {someUnknown, TRUE}, {someUnknown, FALSE}};
    for (const auto& [ids, values] : asks) {
        SCOPED_TRACE(testing::Message() << ids.size() << " IDs, values " << values);
        LPWSTR items[] = {const_cast<LPWSTR>(itemA.c_str()), const_cast<LPWSTR>(L"未知"),
                          const_cast<LPWSTR>(itemB.c_str())};
        std::vector<DWORD> sent = ids;
        sent.push_back(0);
        OPCITEMPROPERTIES* properties = nullptr;
        ASSERT_EQ(S_FALSE, browse->GetProperties(3, items, values, static_cast<DWORD>(ids.size()),
                                                 sent.data(), &properties));
        TaskMem<OPCITEMPROPERTIES> owner(properties);
        ASSERT_NE(nullptr, properties);
        take_properties(itemA, ids.empty() ? kAllProperties : ids, values, properties[0]);
        EXPECT_EQ(OPC_E_UNKNOWNITEMID, properties[1].hrErrorID);
        EXPECT_EQ(0u, properties[1].dwNumProperties);
        EXPECT_EQ(nullptr, properties[1].pItemProperties);
        take_properties(itemB, ids.empty() ? kAllProperties : ids, values, properties[2]);
    }
}

// pdwPropertyIDs is a [ref] array in the published declaration: a client asking for no property
// IDs must still send an array (of none) through the proxy, NULL is refused before it leaves.
TEST(ServerMarshalling, BrowseAndGetPropertiesWithANullPropertyArrayAreRefusedByTheProxy)
{
    ComPtr<IOPCBrowse> browse;
    ASSERT_HRESULT_SUCCEEDED(remote_server()->QueryInterface(IID_PPV_ARGS(&browse)));
    LPWSTR continuation = nullptr;
    BOOL more = FALSE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    EXPECT_EQ(
        HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER),
        browse->Browse(const_cast<LPWSTR>(fake::kBranch), &continuation, 0, OPC_BROWSE_FILTER_ALL,
                       const_cast<LPWSTR>(L""), const_cast<LPWSTR>(L""), TRUE, FALSE, 0, nullptr,
                       &more, &count, &elements));
    EXPECT_EQ(nullptr, elements);
    LPWSTR items[] = {const_cast<LPWSTR>(fake::kLeafA)};
    OPCITEMPROPERTIES* properties = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER),
              browse->GetProperties(1, items, FALSE, 0, nullptr, &properties));
    EXPECT_EQ(nullptr, properties);
}

// Read with a maximum age each and WriteVQT by item ID.
TEST(ServerMarshalling, ItemIOReadsAndWritesByItemId)
{
    ComPtr<IOPCItemIO> io;
    ASSERT_HRESULT_SUCCEEDED(remote_server()->QueryInterface(IID_PPV_ARGS(&io)));
    const std::wstring unwritten[] = {fake::item_id_of(3), fake::item_id_of(4), fake::item_id_of(5),
                                      L"未知"};
    LPCWSTR ids[4];
    for (size_t i = 0; i < 4; ++i) ids[i] = unwritten[i].c_str();
    DWORD ages[] = {0, 1000, 0xFFFFFFFF, 7};
    TaskOut<VARIANT> values;
    TaskOut<WORD> qualities;
    TaskOut<FILETIME> stamps;
    TaskOut<HRESULT> errors;
    ASSERT_EQ(S_FALSE,
              io->Read(4, ids, ages, values.out(), qualities.out(), stamps.out(), errors.out()));
    ASSERT_NE(nullptr, errors.get());
    for (OPCHANDLE h = 3; h <= 5; ++h) {
        const DWORD i = h - 3;
        SCOPED_TRACE(h);
        EXPECT_EQ(S_OK, errors[i]);
        ScopedVariant expected;
        fake::initial_value(h, expected.get());
        expect_value(*expected, values[i], "initial value");
        EXPECT_EQ(fake::quality_of(h), qualities[i]);
        const FILETIME stamp = fake::max_age_timestamp(h, ages[i]);
        EXPECT_EQ(0, CompareFileTime(&stamp, &stamps[i]));
    }
    EXPECT_EQ(OPC_E_UNKNOWNITEMID, errors[3]);
    for (int i = 0; i < 4; ++i) VariantClear(&values[i]);

    VqtWrites writes;
    std::wstring written[VqtWrites::kCount];
    LPCWSTR writtenIds[VqtWrites::kCount];
    for (DWORD i = 0; i < VqtWrites::kCount; ++i) {
        written[i] = i + 1 < VqtWrites::kCount ? fake::item_id_of(60 + i) : L"他处.1";
        writtenIds[i] = written[i].c_str();
    }
    ASSERT_EQ(S_FALSE, io->WriteVQT(VqtWrites::kCount, writtenIds, writes.vqt, errors.out()));
    EXPECT_EQ(writes.errors(OPC_E_UNKNOWNITEMID),
              std::vector<HRESULT>(errors.get(), errors.get() + VqtWrites::kCount));
    ASSERT_EQ(S_OK, io->Read(VqtWrites::kWritten, writtenIds, ages, values.out(), qualities.out(),
                             stamps.out(), errors.out()));
    for (DWORD i = 0; i < VqtWrites::kWritten; ++i) {
        writes.expect_read_back(i, 60 + i, ages[i], values[i], qualities[i], stamps[i]);
        VariantClear(&values[i]);
    }
}

// The stub unmarshals arrays of strings, the continuation point and the VQT arrays into memory
// of its own and must free it after the call.
TEST(ServerMarshalling, StubFreesWhatTheDa3InterfacesUnmarshal)
{
    ComPtr<IOPCBrowse> browse;
    ASSERT_HRESULT_SUCCEEDED(remote_server()->QueryInterface(IID_PPV_ARGS(&browse)));
    ComPtr<IOPCItemIO> io;
    ASSERT_HRESULT_SUCCEEDED(remote_server()->QueryInterface(IID_PPV_ARGS(&io)));
    const std::wstring item = fake::item_id_of(7);
    LPWSTR items[] = {const_cast<LPWSTR>(item.c_str()), const_cast<LPWSTR>(item.c_str())};
    LPCWSTR constItems[] = {item.c_str(), item.c_str()};
    DWORD ids[] = {1, 2};
    DWORD ages[] = {0, 1000};
    VqtWrites writes;
    const struct {
        const char* call;
        std::function<HRESULT()> make;
    } calls[] = {
        {"IOPCBrowse::GetProperties",
         [&] {
             OPCITEMPROPERTIES* properties = nullptr;
             const HRESULT hr = browse->GetProperties(2, items, TRUE, 2, ids, &properties);
             for (int i = 0; SUCCEEDED(hr) && i < 2; ++i)
                 take_properties(item, {1, 2}, true, properties[i]);
             CoTaskMemFree(properties);
             return hr;
         }},
        {"IOPCBrowse::Browse",
         [&] {
             LPWSTR continuation = task_copy(fake::continuation_point(1));
             const LPWSTR sent = continuation;
             BOOL more = FALSE;
             DWORD count = 0;
             OPCBROWSEELEMENT* elements = nullptr;
             const HRESULT hr = browse->Browse(const_cast<LPWSTR>(fake::kBranch), &continuation, 1,
                                               OPC_BROWSE_FILTER_ALL, const_cast<LPWSTR>(L""),
                                               const_cast<LPWSTR>(L""), FALSE, FALSE, 0, ids, &more,
                                               &count, &elements);
             if (continuation != sent) CoTaskMemFree(sent);
             CoTaskMemFree(continuation);
             for (DWORD i = 0; i < count; ++i) {
                 CoTaskMemFree(elements[i].szName);
                 CoTaskMemFree(elements[i].szItemID);
             }
             CoTaskMemFree(elements);
             return hr;
         }},
        {"IOPCItemIO::Read",
         [&] {
             TaskOut<VARIANT> values;
             TaskOut<WORD> qualities;
             TaskOut<FILETIME> stamps;
             TaskOut<HRESULT> errors;
             const HRESULT hr = io->Read(2, constItems, ages, values.out(), qualities.out(),
                                         stamps.out(), errors.out());
             for (int i = 0; SUCCEEDED(hr) && i < 2; ++i) VariantClear(&values[i]);
             return hr;
         }},
        {"IOPCItemIO::WriteVQT",
         [&] {
             TaskOut<HRESULT> errors;
             return io->WriteVQT(2, constItems, writes.vqt, errors.out());
         }},
    };
    for (const auto& c : calls) expect_server_frees_each_call(c.call, c.make);
}

}  // namespace
