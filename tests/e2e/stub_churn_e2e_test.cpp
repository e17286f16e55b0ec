// A client in another process churning groups and item attribute enumerators: every cycle makes
// the server drop the last stub of those interfaces, and the server must go on answering.
// CHURN_CYCLES in the environment lengthens the run for a soak by hand.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/e2e/opc_server_e2e_environment.h"

namespace {

constexpr int kShortChurnCycles = 300;

int ChurnCycles()
{
    const char* cycles = std::getenv("CHURN_CYCLES");
    return cycles && std::atoi(cycles) > 0 ? std::atoi(cycles) : kShortChurnCycles;
}

TEST(StubChurnAcrossProcesses, TheServerStillAnswersAfterTheChurn)
{
    const std::wstring cycles = std::to_wstring(ChurnCycles());
    std::string output;
    EXPECT_EQ(0u, RunProgram(L"churn_client.exe", cycles, output)) << output;
    // One more cycle from a new client: it ends on its own when the server no longer answers.
    std::string probe;
    EXPECT_EQ(0u, RunProgram(L"churn_client.exe", L"1 5000", probe)) << probe;
}

}  // namespace
