#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "opc/values/call_limits.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

using Names = std::vector<std::wstring>;

Names Drain(IEnumString* enumerator)
{
    Names names;
    for (;;) {
        LPOLESTR name = nullptr;
        ULONG fetched = 0;
        if (enumerator->Next(1, &name, &fetched) != S_OK || fetched == 0) return names;
        names.push_back(name);
        CoTaskMemFree(name);
    }
}

class BrowseTest : public ::testing::Test {
protected:
    BrowseTest() { EXPECT_EQ(S_OK, NewServer().As(&browse_)); }

    // The names listed, or {"(result)"} when the call does not return the expected result.
    Names List(OPCBROWSETYPE type, VARTYPE filter = VT_EMPTY, HRESULT expected = S_OK)
    {
        ComPtr<IEnumString> names;
        const HRESULT hr = browse_->BrowseOPCItemIDs(type, L"", filter, 0, &names);
        EXPECT_EQ(expected, hr) << type << " " << filter;
        if (!names) return {L"(no enumerator)"};
        return Drain(names.Get());
    }

    TestTags tags_;
    ComPtr<IOPCBrowseServerAddressSpace> browse_;
    const Names allTags_ = {L"DISC",  L"INT", L"REAL", L"TANK1",
                            L"TANK1", L"A.B", L"TEXT", L"\x6C34\x4F4D"};
};

TEST_F(BrowseTest, TheRootHoldsTheOneBranchAndTheBranchEveryTagInMirrorOrder)
{
    OPCNAMESPACETYPE organisation = OPC_NS_FLAT;
    EXPECT_EQ(S_OK, browse_->QueryOrganization(&organisation));
    EXPECT_EQ(OPC_NS_HIERARCHIAL, organisation);

    EXPECT_EQ(Names{L"Tagname"}, List(OPC_BRANCH));
    EXPECT_EQ(Names{}, List(OPC_LEAF));
    EXPECT_EQ(allTags_, List(OPC_FLAT));
    EXPECT_EQ(Names{}, List(static_cast<OPCBROWSETYPE>(4)));

    EXPECT_EQ(S_OK, browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"no such branch"));
    EXPECT_EQ(Names{}, List(OPC_BRANCH));
    EXPECT_EQ(allTags_, List(OPC_LEAF));
    EXPECT_EQ(allTags_, List(OPC_FLAT));
}

TEST_F(BrowseTest, TheDepthMovesBetweenRootAndBranchOnly)
{
    const struct {
        OPCBROWSEDIRECTION direction;
        const wchar_t* name;
        HRESULT result;
        const wchar_t* branchList;  // what OPC_BRANCH lists afterwards
    } steps[] = {
        {OPC_BROWSE_UP, L"", E_FAIL, L"Tagname"},
        {OPC_BROWSE_DOWN, L"", S_OK, nullptr},
        {OPC_BROWSE_DOWN, L"", E_INVALIDARG, nullptr},
        {static_cast<OPCBROWSEDIRECTION>(4), L"Tagname", E_INVALIDARG, nullptr},
        {OPC_BROWSE_UP, L"", S_OK, L"Tagname"},
        {static_cast<OPCBROWSEDIRECTION>(0), L"", E_INVALIDARG, L"Tagname"},
        {OPC_BROWSE_UP, L"", E_FAIL, L"Tagname"},
        {OPC_BROWSE_DOWN, nullptr, S_OK, nullptr},
        // To: by the branch's full name from anywhere, no name to the root.
        {OPC_BROWSE_TO, L"", S_OK, L"Tagname"},
        {OPC_BROWSE_TO, L"", S_OK, L"Tagname"},
        {OPC_BROWSE_TO, L"Tagname", S_OK, nullptr},
        {OPC_BROWSE_TO, L"Tagname", S_OK, nullptr},
        {OPC_BROWSE_TO, L"TANK1", E_INVALIDARG, nullptr},
        {OPC_BROWSE_TO, L"tagname", E_INVALIDARG, nullptr},
        {OPC_BROWSE_TO, L"Tagname.TANK1", E_INVALIDARG, nullptr},
        {OPC_BROWSE_TO, nullptr, S_OK, L"Tagname"},
        {OPC_BROWSE_TO, L"NOSUCH", E_INVALIDARG, L"Tagname"},
        {OPC_BROWSE_TO, L" Tagname", E_INVALIDARG, L"Tagname"},
        {OPC_BROWSE_UP, L"", E_FAIL, L"Tagname"},
        {OPC_BROWSE_TO, L"Tagname", S_OK, nullptr},
        {OPC_BROWSE_UP, L"", S_OK, L"Tagname"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message()
                     << step.direction << " " << (step.name ? step.name : L"(null)"));
        EXPECT_EQ(step.result, browse_->ChangeBrowsePosition(step.direction, step.name));
        EXPECT_EQ(step.branchList ? Names{step.branchList} : Names{}, List(OPC_BRANCH));
    }
}

TEST_F(BrowseTest, ThePositionBelongsToTheServerObjectNotToThePointer)
{
    ComPtr<IOPCServer> server;
    ASSERT_EQ(S_OK, browse_.As(&server));
    ComPtr<IOPCBrowseServerAddressSpace> second;
    ASSERT_EQ(S_OK, server.As(&second));
    ASSERT_EQ(S_OK, browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Tagname"));
    EXPECT_EQ(E_INVALIDARG, second->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"Tagname"));

    ComPtr<IOPCBrowseServerAddressSpace> otherServer;
    ASSERT_EQ(S_OK, NewServer().As(&otherServer));
    EXPECT_EQ(E_FAIL, otherServer->ChangeBrowsePosition(OPC_BROWSE_UP, L""));
}

TEST_F(BrowseTest, OnlyTheItemTypesListAndEveryTagListsUnderEach)
{
    for (VARTYPE filter :
         std::initializer_list<VARTYPE>{VT_EMPTY, VT_I2, VT_I4, VT_R4, VT_BSTR, VT_BOOL}) {
        EXPECT_EQ(allTags_, List(OPC_FLAT, filter)) << filter;
    }
    for (VARTYPE filter :
         std::initializer_list<VARTYPE>{VT_R8, VT_I1, VT_DATE, VT_ARRAY | VT_I4, 0xFFFF}) {
        EXPECT_EQ(Names{}, List(OPC_FLAT, filter, S_FALSE)) << filter;
        EXPECT_EQ(Names{}, List(OPC_BRANCH, filter, S_FALSE)) << filter;
    }
}

TEST_F(BrowseTest, AnEmptyMirrorListsNoTags)
{
    const int saved = g_mirrorCount;
    IndexTagMirror(0);
    EXPECT_EQ(Names{}, List(OPC_FLAT));
    browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"");
    EXPECT_EQ(Names{}, List(OPC_LEAF));
    IndexTagMirror(saved);
}

TEST_F(BrowseTest, ItemIdsAreTheTrimmedLeafNames)
{
    const struct {
        const wchar_t* leaf;
        const wchar_t* itemId;
    } cases[] = {
        {L"  TANK1\t", L"TANK1"},
        {L"\r\n\v\fA B \n", L"A B"},
        {L"", L""},
        {L"   ", L""},
        {L" \x6C34\x4F4D ", L"\x6C34\x4F4D"},
        {L"NOSUCH", L"NOSUCH"},
    };
    browse_->ChangeBrowsePosition(OPC_BROWSE_DOWN, L"");
    for (const auto& c : cases) {
        TaskOut<wchar_t> itemId;
        ASSERT_EQ(S_OK, browse_->GetItemID(const_cast<LPWSTR>(c.leaf), itemId.out())) << c.leaf;
        EXPECT_STREQ(c.itemId, itemId.get()) << c.leaf;
    }
}

TEST_F(BrowseTest, MissingOrOverlongArgumentsAndAccessPaths)
{
    TaskOut<wchar_t> itemId;
    EXPECT_EQ(E_INVALIDARG, browse_->GetItemID(nullptr, itemId.out()));
    std::wstring longest(kMaxItemIdUnits, L'x');
    EXPECT_EQ(S_OK, browse_->GetItemID(longest.data(), itemId.out()));
    EXPECT_EQ(longest, itemId.get());
    std::wstring overlong = L" " + longest;
    TaskOut<wchar_t> none;
    EXPECT_EQ(E_INVALIDARG, browse_->GetItemID(overlong.data(), none.out()));
    EXPECT_EQ(nullptr, none.get());
    EXPECT_EQ(E_INVALIDARG, browse_->GetItemID(const_cast<LPWSTR>(L"X"), nullptr));
    EXPECT_EQ(E_INVALIDARG, browse_->QueryOrganization(nullptr));
    EXPECT_EQ(E_INVALIDARG, browse_->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0, nullptr));
    ComPtr<IEnumString> paths;
    EXPECT_EQ(E_NOTIMPL, browse_->BrowseAccessPaths(L"TANK1", &paths));
}

TEST_F(BrowseTest, AListIsASnapshotThatKeepsTheServerAlive)
{
    ComPtr<IEnumString> names;
    ASSERT_EQ(S_OK, browse_->BrowseOPCItemIDs(OPC_FLAT, nullptr, VT_EMPTY, 0, &names));
    const LONG before = RefCount(browse_.Get());
    {
        ComPtr<IEnumString> clone;
        ASSERT_EQ(S_OK, names->Clone(&clone));
        EXPECT_EQ(before + 1, RefCount(browse_.Get()));
    }
    g_tagMirror[0]->name[0] = L'X';
    EXPECT_EQ(allTags_, Drain(names.Get()));
    g_tagMirror[0]->name[0] = L'D';
}

}  // namespace
