// Careless and hostile clients across processes: each bound of the server hit once by a client
// that floods, asks for huge answers, lies about its array sizes or leaves requests behind,
// with the server still answering, other clients keeping their pace and the server's memory
// back near its level afterwards.
#include <windows.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

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

// ---- Counts larger than their arrays ----
// count_lying_client.exe's proxies send one element for every [in] array whatever count they
// pass: each call below claims 100000. The server's stub must refuse them before the server
// reads past the array, from a 64-bit and a 32-bit client, and leave the client's group as it
// was.
namespace {

const wchar_t* const kCountLyingClients[] = {L"count_lying_client.exe",
                                             L"x86\\count_lying_client.exe"};

const wchar_t* const kCallsWithCountsLargerThanTheirArrays[] = {
    L"ItemMgt.AddItems",
    L"ItemMgt.ValidateItems",
    L"ItemMgt.RemoveItems",
    L"ItemMgt.SetActiveState",
    L"ItemMgt.SetClientHandles",
    L"ItemMgt.SetDatatypes",
    L"SyncIO.Read",
    L"SyncIO.Write",
    L"SyncIO2.ReadMaxAge",
    L"SyncIO2.WriteVQT",
    L"AsyncIO.Read",
    L"AsyncIO.Write",
    L"AsyncIO2.Read",
    L"AsyncIO2.Write",
    L"AsyncIO3.ReadMaxAge",
    L"AsyncIO3.WriteVQT",
    L"ItemDeadbandMgt.SetItemDeadband",
    L"ItemDeadbandMgt.GetItemDeadband",
    L"ItemDeadbandMgt.ClearItemDeadband",
    L"ItemProperties.GetItemProperties",
    L"ItemProperties.LookupItemIDs",
    L"Browse.GetProperties",
    L"Browse.Browse",
    L"ItemIO.Read",
    L"ItemIO.WriteVQT",
};

TEST(HostileClient, CallsWithCountsLargerThanTheirArraysAreRefusedBeforeTheServerReadsThem)
{
    std::wstring calls;
    for (const wchar_t* call : kCallsWithCountsLargerThanTheirArrays)
        calls += std::wstring(call) + L" ";
    for (const wchar_t* client : kCountLyingClients) {
        std::string output;
        ASSERT_EQ(0u, RunProgram(client, calls, output)) << output;
        for (const wchar_t* call : kCallsWithCountsLargerThanTheirArrays) {
            const std::wstring wide = std::wstring(call) + L" 0x800706F7 unchanged";
            const std::string expected(wide.begin(), wide.end());
            EXPECT_NE(std::string::npos, output.find(expected))
                << "client " << static_cast<const void*>(client) << ": " << output;
        }
        EXPECT_TRUE(ServerAnswers());
    }
}

}  // namespace
