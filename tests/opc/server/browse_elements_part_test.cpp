// IOPCBrowse of a server object over a mirror of test tags: the elements of the root and of
// the branch page by page, the filters, the continuation points, and the tags' properties.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opc/com/task_memory.h"
#include "opc/values/call_limits.h"
#include "opc/values/item_properties.h"
#include "opc_error.h"
#include "tests/opc/group/refusing_allocator.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/include/task_memory.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

using Names = std::vector<std::wstring>;

void FreeProperties(OPCITEMPROPERTIES& list)
{
    for (DWORD i = 0; list.pItemProperties && i < list.dwNumProperties; ++i) {
        CoTaskMemFree(list.pItemProperties[i].szItemID);
        CoTaskMemFree(list.pItemProperties[i].szDescription);
        VariantClear(&list.pItemProperties[i].vValue);
    }
    CoTaskMemFree(list.pItemProperties);
}

// What one Browse call handed out, freed when it goes.
struct Page {
    HRESULT result = E_FAIL;
    BOOL more = TRUE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    ~Page()
    {
        for (DWORD i = 0; elements && i < count; ++i) {
            CoTaskMemFree(elements[i].szName);
            CoTaskMemFree(elements[i].szItemID);
            FreeProperties(elements[i].ItemProperties);
        }
        CoTaskMemFree(elements);
    }
};

// What a Browse asks beyond the branch and the continuation point.
struct Request {
    OPCBROWSEFILTER filter = OPC_BROWSE_FILTER_ALL;
    const wchar_t* nameFilter = L"";
    DWORD pageSize = 0;
    BOOL allProperties = FALSE;
    BOOL values = FALSE;
    std::vector<DWORD> propertyIds;
    const wchar_t* vendorFilter = L"any vendor text";
};

class BrowseElements : public ::testing::Test {
protected:
    BrowseElements() { EXPECT_EQ(S_OK, NewServer().As(&browse_)); }

    void Browse(const wchar_t* branch, LPWSTR& point, const Request& request, Page& page)
    {
        std::wstring item(branch ? branch : L"");
        std::wstring nameFilter(request.nameFilter ? request.nameFilter : L"");
        std::wstring vendorFilter(request.vendorFilter ? request.vendorFilter : L"");
        std::vector<DWORD> ids = request.propertyIds;
        page.result =
            browse_->Browse(branch ? item.data() : nullptr, &point, request.pageSize,
                            request.filter, request.nameFilter ? nameFilter.data() : nullptr,
                            request.vendorFilter ? vendorFilter.data() : nullptr,
                            request.allProperties, request.values, static_cast<DWORD>(ids.size()),
                            ids.data(), &page.more, &page.count, &page.elements);
    }

    // Every name a browse lists, following its continuation points, with the result of the
    // first failing call or of the last; `pages` counts the calls.
    HRESULT BrowseAll(const wchar_t* branch, const Request& request, Names& names, int& pages,
                      std::vector<DWORD>* flags = nullptr)
    {
        LPWSTR point = nullptr;
        pages = 0;
        for (;;) {
            Page page;
            Browse(branch, point, request, page);
            ++pages;
            if (FAILED(page.result)) return page.result;
            EXPECT_FALSE(page.more) << "points are handed out instead";
            for (DWORD i = 0; i < page.count; ++i) {
                names.push_back(page.elements[i].szName);
                EXPECT_STREQ(page.elements[i].szName, page.elements[i].szItemID);
                if (flags) flags->push_back(page.elements[i].dwFlagValue);
            }
            if (request.pageSize) {
                EXPECT_LE(page.count, request.pageSize);
            }
            if (!point || pages > 100) return page.result;
        }
    }

    TestTags tags_;
    ComPtr<IOPCBrowse> browse_;
    const Names allTags_ = {L"DISC",  L"INT", L"REAL", L"TANK1",
                            L"TANK1", L"A.B", L"TEXT", L"\x6C34\x4F4D"};
};

TEST_F(BrowseElements, BranchesAndItemsPageByPageWithTheirFilters)
{
    // A run of '*' is one '*'; one unit more than the cap is refused whatever it says.
    const std::wstring longestFilter = std::wstring(kMaxNameFilterUnits - 1, L'*') + L"T";
    const std::wstring overlongFilter(kMaxNameFilterUnits + 1, L'*');
    const std::wstring overlongItemId = std::wstring(kMaxItemIdUnits, L'x') + L".INT";
    const struct {
        const wchar_t* branch;
        OPCBROWSEFILTER filter;
        const wchar_t* nameFilter;
        DWORD pageSize;
        HRESULT result;
        Names names;
        int pages;
    } cases[] = {
        {nullptr, OPC_BROWSE_FILTER_ALL, nullptr, 0, S_OK, {L"Tagname"}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, longestFilter.c_str(), 0, S_OK, {L"INT", L"TEXT"}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, overlongFilter.c_str(), 0, OPC_E_INVALIDFILTER, {}, 1},
        {overlongItemId.c_str(), OPC_BROWSE_FILTER_ALL, L"", 0, OPC_E_INVALIDITEMID, {}, 1},
        {L"", OPC_BROWSE_FILTER_BRANCHES, L"", 1, S_OK, {L"Tagname"}, 1},
        {L"", OPC_BROWSE_FILTER_ITEMS, L"", 0, S_OK, {}, 1},
        {L"", OPC_BROWSE_FILTER_ALL, L"X*", 0, S_OK, {}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, nullptr, 0, S_OK, allTags_, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ITEMS, L"", 3, S_OK, allTags_, 3},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"*", 8, S_OK, allTags_, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"", 7, S_OK, allTags_, 2},
        {L"Tagname", OPC_BROWSE_FILTER_BRANCHES, L"", 0, S_OK, {}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"T*", 1, S_OK, {L"TANK1", L"TANK1", L"TEXT"}, 3},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"?N?", 0, S_OK, {L"INT"}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"TANK#", 0, S_OK, {L"TANK1", L"TANK1"}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"TAN#1", 0, S_OK, {}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"[A-D]*", 0, S_OK, {L"DISC", L"A.B"}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"[!A-Z]*", 0, S_OK, {L"\x6C34\x4F4D"}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"*E*", 0, S_OK, {L"REAL", L"TEXT"}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"a.b", 0, S_OK, {}, 1},
        {L"INT", OPC_BROWSE_FILTER_ALL, L"", 0, S_OK, {}, 1},
        {L"Tagname.INT", OPC_BROWSE_FILTER_ALL, L"", 0, S_OK, {}, 1},
        {L"A.B", OPC_BROWSE_FILTER_ALL, L"", 0, S_OK, {}, 1},
        {L"NOSUCH", OPC_BROWSE_FILTER_ALL, L"", 0, OPC_E_UNKNOWNITEMID, {}, 1},
        {L"Device.", OPC_BROWSE_FILTER_ALL, L"", 0, OPC_E_INVALIDITEMID, {}, 1},
        {L"Tagname", static_cast<OPCBROWSEFILTER>(0), L"", 0, OPC_E_INVALIDFILTER, {}, 1},
        {L"Tagname", static_cast<OPCBROWSEFILTER>(4), L"", 0, OPC_E_INVALIDFILTER, {}, 1},
        {L"Tagname", OPC_BROWSE_FILTER_ALL, L"[AB*", 0, OPC_E_INVALIDFILTER, {}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.branch ? "branch" : "null") << " filter " << c.filter
                                        << " page " << c.pageSize);
        Request request;
        request.filter = c.filter;
        request.nameFilter = c.nameFilter;
        request.pageSize = c.pageSize;
        Names names;
        int pages = 0;
        std::vector<DWORD> flags;
        EXPECT_EQ(c.result, BrowseAll(c.branch, request, names, pages, &flags));
        EXPECT_EQ(c.names, names);
        EXPECT_EQ(c.pages, pages);
        const bool inBranch = c.branch && *c.branch;
        for (DWORD flag : flags)
            EXPECT_EQ(inBranch ? DWORD{OPC_BROWSE_ISITEM} : DWORD{OPC_BROWSE_HASCHILDREN}, flag);
    }
}

TEST_F(BrowseElements, AContinuationPointServesOnceAndOnlyForItsBranchAndMirror)
{
    Request request;
    request.pageSize = 2;
    const auto firstPoint = [&] {
        LPWSTR point = nullptr;
        Page page;
        Browse(L"Tagname", point, request, page);
        EXPECT_EQ(S_OK, page.result);
        EXPECT_NE(nullptr, point);
        return point;
    };
    const auto next = [&](const wchar_t* branch, LPWSTR point) {
        Page page;
        Browse(branch, point, request, page);
        if (SUCCEEDED(page.result)) CoTaskMemFree(point);
        return page.result;
    };

    LPWSTR point = firstPoint();
    LPWSTR copy = TaskStringCopy(point);
    EXPECT_EQ(S_OK, next(L"Tagname", point));
    EXPECT_EQ(OPC_E_INVALIDCONTINUATIONPOINT, next(L"Tagname", copy)) << "already taken";
    CoTaskMemFree(copy);

    point = firstPoint();
    EXPECT_EQ(OPC_E_INVALIDCONTINUATIONPOINT, next(L"", point)) << "another branch";
    CoTaskMemFree(point);

    point = firstPoint();
    IndexTagMirror(8);  // the mirror indexed anew
    EXPECT_EQ(OPC_E_INVALIDCONTINUATIONPOINT, next(L"Tagname", point)) << "stale";
    CoTaskMemFree(point);

    LPWSTR unknown = TaskStringCopy(L"page-99");
    EXPECT_EQ(OPC_E_INVALIDCONTINUATIONPOINT, next(L"Tagname", unknown));
    CoTaskMemFree(unknown);

    const std::wstring overlong(kMaxContinuationPointUnits + 1, L'p');
    LPWSTR huge = TaskStringCopy(overlong.c_str());
    EXPECT_EQ(OPC_E_INVALIDCONTINUATIONPOINT, next(L"Tagname", huge)) << "longer than any point";
    CoTaskMemFree(huge);
}

TEST_F(BrowseElements, AContinuationPointServesOnlyTheFiltersAndPropertiesItWasMadeFor)
{
    const struct {
        const char* what;
        void (*change)(Request&);
        HRESULT result;
    } cases[] = {
        {"another browse filter", [](Request& r) { r.filter = OPC_BROWSE_FILTER_ITEMS; },
         OPC_E_INVALIDCONTINUATIONPOINT},
        {"another element-name filter", [](Request& r) { r.nameFilter = L"T*"; },
         OPC_E_INVALIDCONTINUATIONPOINT},
        {"another vendor filter", [](Request& r) { r.vendorFilter = L"other vendor"; },
         OPC_E_INVALIDCONTINUATIONPOINT},
        {"all properties", [](Request& r) { r.allProperties = TRUE; },
         OPC_E_INVALIDCONTINUATIONPOINT},
        {"with values", [](Request& r) { r.values = TRUE; }, OPC_E_INVALIDCONTINUATIONPOINT},
        {"another property-ID list",
         [](Request& r) {
             r.propertyIds = {2, 1};
         },
         OPC_E_INVALIDCONTINUATIONPOINT},
        {"no property IDs", [](Request& r) { r.propertyIds.clear(); },
         OPC_E_INVALIDCONTINUATIONPOINT},
        {"another page size", [](Request& r) { r.pageSize = 5; }, S_OK},
        {"a null name filter for an empty one", [](Request& r) { r.nameFilter = nullptr; }, S_OK},
        {"a null vendor filter for an empty one", [](Request& r) { r.vendorFilter = nullptr; },
         S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Request asked;
        asked.pageSize = 2;
        asked.propertyIds = {2};
        asked.vendorFilter = L"";
        LPWSTR point = nullptr;
        {
            Page first;
            Browse(L"Tagname", point, asked, first);
            ASSERT_EQ(S_OK, first.result);
            ASSERT_NE(nullptr, point);
        }
        Request changed = asked;
        c.change(changed);
        const LPWSTR given = point;
        {
            Page page;
            Browse(L"Tagname", point, changed, page);
            EXPECT_EQ(c.result, page.result);
            if (FAILED(c.result)) {
                EXPECT_EQ(given, point);
                EXPECT_EQ(nullptr, page.elements);
            }
        }
        if (FAILED(c.result)) {
            // Refused, the point still serves the request it was made for.
            Page again;
            Browse(L"Tagname", point, asked, again);
            EXPECT_EQ(S_OK, again.result);
            ASSERT_EQ(2u, again.count);
            EXPECT_STREQ(L"REAL", again.elements[0].szName);
            EXPECT_STREQ(L"TANK1", again.elements[1].szName);
        }
        CoTaskMemFree(point);
    }
}

TEST_F(BrowseElements, APageThatFailsLeavesItsPointToAskForTheSamePageAgain)
{
    Request request;
    request.pageSize = 2;
    request.allProperties = TRUE;
    request.values = TRUE;
    LPWSTR point = nullptr;
    {
        Page first;
        Browse(L"Tagname", point, request, first);
        ASSERT_EQ(S_OK, first.result);
    }
    // Each block the page takes from the task allocator refused in turn, up to the point after
    // it: every failure leaves the point given.
    int refused = 1;
    for (;; ++refused) {
        SCOPED_TRACE(refused);
        ASSERT_LT(refused, 100);
        const LPWSTR given = point;
        Page page;
        {
            RefusingAllocator allocator(refused);
            Browse(L"Tagname", point, request, page);
        }
        if (page.result == S_OK) {
            ASSERT_EQ(2u, page.count);
            EXPECT_STREQ(L"REAL", page.elements[0].szName);
            EXPECT_STREQ(L"TANK1", page.elements[1].szName);
            break;
        }
        EXPECT_EQ(E_OUTOFMEMORY, page.result);
        EXPECT_EQ(given, point);
        EXPECT_EQ(nullptr, page.elements);
    }
    EXPECT_GT(refused, 2 * (2 + 6) + 1) << "the elements' texts, properties and the new point";
    CoTaskMemFree(point);
}

TEST_F(BrowseElements, ItemsCarryTheirPropertiesOnRequest)
{
    const struct {
        BOOL all;
        BOOL values;
        std::vector<DWORD> ids;
        HRESULT result;
        std::vector<HRESULT> errors;  // per property of INT, in order
    } cases[] = {
        {TRUE, TRUE, {}, S_OK, {S_OK, S_OK, S_OK, S_OK, S_OK, S_OK}},
        {TRUE, FALSE, {}, S_OK, {S_OK, S_OK, S_OK, S_OK, S_OK, S_OK}},
        {FALSE, TRUE, {2, 101}, S_FALSE, {S_OK, OPC_E_INVALID_PID}},
        {FALSE, FALSE, {}, S_OK, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.all << c.values << " " << c.ids.size());
        Request request;
        request.nameFilter = L"INT";
        request.allProperties = c.all;
        request.values = c.values;
        request.propertyIds = c.ids;
        LPWSTR point = nullptr;
        Page page;
        Browse(L"Tagname", point, request, page);
        EXPECT_EQ(c.result, page.result);
        ASSERT_EQ(1u, page.count);
        const OPCITEMPROPERTIES& list = page.elements[0].ItemProperties;
        EXPECT_EQ(c.result, list.hrErrorID);
        ASSERT_EQ(c.errors.size(), list.dwNumProperties);
        for (DWORD i = 0; i < list.dwNumProperties; ++i) {
            const OPCITEMPROPERTY& property = list.pItemProperties[i];
            EXPECT_EQ(c.errors[i], property.hrErrorID) << i;
            EXPECT_EQ(nullptr, property.szItemID);
            if (property.dwPropertyID == 2) {
                EXPECT_EQ(VT_I4, property.vtDataType);
                EXPECT_STREQ(L"Item Value", property.szDescription);
                EXPECT_EQ(c.values ? VT_I4 : VT_EMPTY, property.vValue.vt);
                if (c.values) {
                    EXPECT_EQ(42, property.vValue.lVal);
                }
            }
        }
    }
    // The branch has no properties of its own.
    Request request;
    request.allProperties = TRUE;
    LPWSTR point = nullptr;
    Page root;
    Browse(L"", point, request, root);
    ASSERT_EQ(1u, root.count);
    EXPECT_EQ(S_OK, root.elements[0].ItemProperties.hrErrorID);
    EXPECT_EQ(0u, root.elements[0].ItemProperties.dwNumProperties);
}

TEST_F(BrowseElements, GetPropertiesAnswersEachItemAndEachProperty)
{
    const struct {
        std::vector<const wchar_t*> items;
        std::vector<DWORD> ids;
        HRESULT result;
        std::vector<HRESULT> itemErrors;
        DWORD properties;  // of each known item
    } cases[] = {
        {{L"Tagname.INT", L"A.B"}, {}, S_OK, {S_OK, S_OK}, 6},
        {{L"REAL"}, {4, 1}, S_OK, {S_OK}, 2},
        {{L"INT", L"NOSUCH", L"", nullptr, L"TEXT"},
         {2, 999},
         S_FALSE,
         {S_FALSE, OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID, S_FALSE},
         2},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> texts;
        for (const wchar_t* item : c.items) texts.emplace_back(item ? item : L"");
        std::vector<LPWSTR> items;
        for (size_t i = 0; i < texts.size(); ++i)
            items.push_back(c.items[i] ? texts[i].data() : nullptr);
        std::vector<DWORD> ids = c.ids;
        TaskOut<OPCITEMPROPERTIES> lists;
        EXPECT_EQ(c.result,
                  browse_->GetProperties(static_cast<DWORD>(items.size()), items.data(), TRUE,
                                         static_cast<DWORD>(ids.size()), ids.data(), lists.out()));
        ASSERT_NE(nullptr, lists.get());
        for (size_t i = 0; i < items.size(); ++i) {
            OPCITEMPROPERTIES& list = lists[i];
            EXPECT_EQ(c.itemErrors[i], list.hrErrorID) << i;
            EXPECT_EQ(SUCCEEDED(list.hrErrorID) ? c.properties : 0u, list.dwNumProperties) << i;
            for (DWORD p = 0; p < list.dwNumProperties; ++p) {
                const OPCITEMPROPERTY& property = list.pItemProperties[p];
                EXPECT_EQ(property.dwPropertyID == 999 ? OPC_E_INVALID_PID : S_OK,
                          property.hrErrorID);
            }
            FreeProperties(list);
        }
    }
}

TEST_F(BrowseElements, ListsPastTheirCapsAndAnswersPastTheBudgetAreRefusedBeforeAnyWork)
{
    std::wstring text(L"INT");
    const std::vector<LPWSTR> items(10000, text.data());
    std::vector<DWORD> manyIds(kMaxPropertyIds);
    for (DWORD i = 0; i < kMaxPropertyIds; ++i) manyIds[i] = i + 1;
    const struct {
        const char* what;
        DWORD items;
        DWORD properties;  // 0: all of them
        BOOL values;
        HRESULT result;
    } cases[] = {
        {"every property with its value of 10000 items", 10000, 0, TRUE, S_OK},
        {"the most property IDs of one item", 1, kMaxPropertyIds, TRUE, S_FALSE},
        {"more items than a list may hold", kMaxListEntries + 1, 1, FALSE, E_INVALIDARG},
        {"more property IDs than a list may hold", 1, kMaxPropertyIds + 1, FALSE, E_INVALIDARG},
        {"every value of the most items: past the budget", kMaxListEntries, 0, TRUE,
         E_OUTOFMEMORY},
        {"the most property IDs of 10000 items: past the budget", 10000, kMaxPropertyIds, FALSE,
         E_OUTOFMEMORY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Items past those listed are never read: the call is refused first.
        OPCITEMPROPERTIES* lists = reinterpret_cast<OPCITEMPROPERTIES*>(1);
        EXPECT_EQ(c.result, browse_->GetProperties(c.items, const_cast<LPWSTR*>(items.data()),
                                                   c.values, c.properties, manyIds.data(),
                                                   &lists));
        if (FAILED(c.result)) {
            EXPECT_EQ(nullptr, lists);
            continue;
        }
        for (DWORD i = 0; i < c.items; ++i) FreeProperties(lists[i]);
        CoTaskMemFree(lists);
    }

    LPWSTR point = nullptr;
    BOOL more = TRUE;
    DWORD count = 5;
    OPCBROWSEELEMENT* elements = reinterpret_cast<OPCBROWSEELEMENT*>(1);
    EXPECT_EQ(E_INVALIDARG, browse_->Browse(text.data(), &point, 0, OPC_BROWSE_FILTER_ALL,
                                            nullptr, nullptr, FALSE, FALSE, kMaxPropertyIds + 1,
                                            manyIds.data(), &more, &count, &elements));
    EXPECT_EQ(nullptr, elements);
}

TEST_F(BrowseElements, BadArgumentsAreRefusedWithNothingHandedOut)
{
    LPWSTR item = const_cast<LPWSTR>(L"INT");
    DWORD id = 1;
    OPCITEMPROPERTIES* lists = reinterpret_cast<OPCITEMPROPERTIES*>(1);
    EXPECT_EQ(E_INVALIDARG, browse_->GetProperties(0, &item, TRUE, 0, nullptr, &lists));
    EXPECT_EQ(nullptr, lists);
    EXPECT_EQ(E_INVALIDARG, browse_->GetProperties(1, nullptr, TRUE, 0, nullptr, &lists));
    EXPECT_EQ(E_INVALIDARG, browse_->GetProperties(1, &item, TRUE, 1, nullptr, &lists));
    EXPECT_EQ(E_INVALIDARG, browse_->GetProperties(1, &item, TRUE, 1, &id, nullptr));

    LPWSTR point = nullptr;
    BOOL more = TRUE;
    DWORD count = 5;
    OPCBROWSEELEMENT* elements = reinterpret_cast<OPCBROWSEELEMENT*>(1);
    EXPECT_EQ(E_INVALIDARG,
              browse_->Browse(nullptr, nullptr, 0, OPC_BROWSE_FILTER_ALL, nullptr, nullptr, FALSE,
                              FALSE, 0, nullptr, &more, &count, &elements));
    EXPECT_FALSE(more);
    EXPECT_EQ(0u, count);
    EXPECT_EQ(nullptr, elements);
    EXPECT_EQ(E_INVALIDARG,
              browse_->Browse(nullptr, &point, 0, OPC_BROWSE_FILTER_ALL, nullptr, nullptr, FALSE,
                              FALSE, 1, nullptr, &more, &count, &elements));
    EXPECT_EQ(E_INVALIDARG,
              browse_->Browse(nullptr, &point, 0, OPC_BROWSE_FILTER_ALL, nullptr, nullptr, FALSE,
                              FALSE, 0, nullptr, &more, &count, nullptr));
}

}  // namespace
