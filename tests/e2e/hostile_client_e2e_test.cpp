// Careless and hostile clients across processes: each bound of the server hit once by a client
// that floods, asks for huge answers, lies about its array sizes or leaves requests behind,
// with the server still answering, other clients keeping their pace and the server's memory
// back near its level afterwards.
#include <windows.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "bench/server_figures.h"
#include "opc_da.h"
#include "opc_error.h"
#include "server_identity.h"
#include "tests/e2e/opc_server_e2e_environment.h"
#include "viewer/win_handles.h"

using Microsoft::WRL::ComPtr;

namespace {

// The server's committed private memory now; 0 when it cannot be read.
SIZE_T ServerPrivateBytes()
{
    const UniqueHandle server(OpenRunningServer());
    ServerFigures figures;
    return server && ReadFigures(server.get(), figures) ? figures.privateBytes : 0;
}

// A second client's GetStatus: the server still answers whatever the hostile one did.
bool ServerAnswers()
{
    ComPtr<IOPCServer> server;
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&server)))) {
        return false;
    }
    OPCSERVERSTATUS* status = nullptr;
    if (FAILED(server->GetStatus(&status)) || !status) return false;
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    return true;
}

TEST(HostileClient, ServerAnswersAndItsMemoryIsReadable)
{
    EXPECT_TRUE(ServerAnswers());
    EXPECT_NE(0u, ServerPrivateBytes());
}

}  // namespace

// ---- Giant calls: refused with their code before the server allocates or walks anything ----

namespace {

// A Browse of the tag branch with `filter` and `point`, all that it hands out freed again.
HRESULT BrowseTags(IOPCBrowse* browse, std::wstring filter, const std::wstring& point)
{
    std::wstring branch(L"Tagname");
    std::wstring vendor;
    LPWSTR continuation = nullptr;
    if (!point.empty()) {
        continuation = static_cast<LPWSTR>(CoTaskMemAlloc((point.size() + 1) * sizeof(wchar_t)));
        if (!continuation) return E_OUTOFMEMORY;
        std::copy(point.c_str(), point.c_str() + point.size() + 1, continuation);
    }
    DWORD none = 0;
    BOOL more = FALSE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    const HRESULT hr =
        browse->Browse(branch.data(), &continuation, 0, OPC_BROWSE_FILTER_ALL, filter.data(),
                       vendor.data(), FALSE, FALSE, 0, &none, &more, &count, &elements);
    for (DWORD i = 0; elements && i < count; ++i) {
        CoTaskMemFree(elements[i].szName);
        CoTaskMemFree(elements[i].szItemID);
    }
    CoTaskMemFree(elements);
    CoTaskMemFree(continuation);
    return hr;
}

std::vector<DWORD> PropertyIds(DWORD count)
{
    std::vector<DWORD> ids(count);
    for (DWORD i = 0; i < count; ++i) ids[i] = i + 1;
    return ids;
}

TEST(HostileClient, GiantCallsAreRefusedWithTheirCodeAndCostTheServerNothing)
{
    ComPtr<IOPCServer> server;
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr,
                                              CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server)));
    ComPtr<IOPCBrowse> browse;
    ComPtr<IOPCItemProperties> properties;
    ASSERT_HRESULT_SUCCEEDED(server.As(&browse));
    ASSERT_HRESULT_SUCCEEDED(server.As(&properties));
    const SIZE_T before = ServerPrivateBytes();
    ASSERT_NE(0u, before);
    std::wstring level(L"Level");

    const struct {
        const char* what;
        HRESULT expected;
        std::function<HRESULT()> call;
    } cases[] = {
        {"GetProperties of 1000 IDs x 10^6 property IDs", E_INVALIDARG,
         [&] {
             std::vector<LPWSTR> items(1000, level.data());
             std::vector<DWORD> ids = PropertyIds(1000000);
             OPCITEMPROPERTIES* lists = nullptr;
             const HRESULT hr = browse->GetProperties(1000, items.data(), TRUE, 1000000,
                                                      ids.data(), &lists);
             EXPECT_EQ(nullptr, lists);
             return hr;
         }},
        {"GetProperties of 10000 IDs x 1000 property IDs: past the budget", E_OUTOFMEMORY,
         [&] {
             std::vector<LPWSTR> items(10000, level.data());
             std::vector<DWORD> ids = PropertyIds(1000);
             OPCITEMPROPERTIES* lists = nullptr;
             const HRESULT hr =
                 browse->GetProperties(10000, items.data(), TRUE, 1000, ids.data(), &lists);
             EXPECT_EQ(nullptr, lists);
             return hr;
         }},
        {"Browse with a filter of 10^6 '*'", OPC_E_INVALIDFILTER,
         [&] { return BrowseTags(browse.Get(), std::wstring(1000000, L'*'), L""); }},
        {"Browse with a continuation point of 10^6 units", OPC_E_INVALIDCONTINUATIONPOINT,
         [&] { return BrowseTags(browse.Get(), L"", std::wstring(1000000, L'p')); }},
        {"GetItemProperties of 10^6 IDs", E_INVALIDARG,
         [&] {
             std::vector<DWORD> ids = PropertyIds(1000000);
             VARIANT* values = nullptr;
             HRESULT* errors = nullptr;
             const HRESULT hr =
                 properties->GetItemProperties(level.data(), 1000000, ids.data(), &values, &errors);
             EXPECT_EQ(nullptr, values);
             EXPECT_EQ(nullptr, errors);
             return hr;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.expected, c.call());
        EXPECT_TRUE(ServerAnswers()) << "another client is still answered";
    }
    // Each refused call took nothing the server keeps; what the RPC runtime caches of the
    // calls' buffers may stay.
    const SIZE_T after = ServerPrivateBytes();
    ASSERT_NE(0u, after);
    EXPECT_LT(static_cast<double>(after), static_cast<double>(before) + 16.0 * 1048576.0)
        << "from " << before << " to " << after << " bytes";
}

}  // namespace
