// The short soak: soak.exe (bench/) with its subscribers, churn client and killed clients
// against the registered OPCServer.exe for a minute. What it pins is not a speed: only that
// the server still answers afterwards and that every subscriber got deliveries.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/server_process.h"

namespace {

constexpr DWORD kSoakSeconds = 60;
// The soak bounds each of its own waits; this only keeps a stuck soak from holding CTest.
constexpr DWORD kPatienceMs = (kSoakSeconds + 120) * 1000;

TEST(Soak, ServerStillAnswersAndEverySubscriberGetsDeliveries)
{
    std::string commandLine = "\"" + ProgramDirectory() + "soak.exe\" --seconds " +
                              std::to_string(kSoakSeconds) + " --subscribers 3 --report 30";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    CloseHandle(process.hThread);
    DWORD exitCode = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, kPatienceMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &exitCode);
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
    }
    CloseHandle(process.hProcess);
    EXPECT_EQ(0u, exitCode) << "soak.exe printed why (above)";
}

}  // namespace
