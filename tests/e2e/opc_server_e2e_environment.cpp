#include "tests/e2e/opc_server_e2e_environment.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <vector>

#include "app/window_classes.h"
#include "runtime_link/ansi_text.h"
#include "runtime_link/viewer_link.h"
#include "tests/support/temp_directory.h"
#include "viewer/bounded_wait.h"
#include "viewer/project_location.h"
#include "viewer/tag_database.h"
#include "viewer/win_handles.h"

namespace {

constexpr int kPatienceMs = 30000;  // bounds every wait; a healthy run needs a fraction
constexpr wchar_t kServerProgram[] = L"OPCServer.exe";

// Ends the process owning the top-level window of `className` through WM_CLOSE, as a user
// closes it; true when there was none or it ended.
bool CloseProgramWindow(const char* className)
{
    HWND window = FindWindowA(className, nullptr);
    if (!window) return true;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (!process) return WaitUntil([&] { return !FindWindowA(className, nullptr); }, kPatienceMs);
    return WaitForSingleObject(process.get(), kPatienceMs) == WAIT_OBJECT_0;
}

UniqueHandle StartProgram(const std::wstring& program, const std::wstring& arguments, HANDLE output)
{
    std::wstring commandLine = L"\"" + ProgramFolder() + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr, 0,
                        nullptr, nullptr, &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return UniqueHandle(process.hProcess);
}

std::vector<TagDefinition> ProjectTags()
{
    return {MakeTagDefinition("Level", 11, 0, kSimulationNone, "42"),
            MakeTagDefinition(AnsiFromWide(L"温度"), 6, 0, kSimulationNone, "36.5"),
            MakeTagDefinition("Operator", 7, 0, kSimulationNone, AnsiFromWide(L"张三")),
            MakeTagDefinition("Pump", 10, 0, kSimulationNone, "1"),
            // Names with a dot, as the demo project has them.
            MakeTagDefinition("Pump.Speed", 11, 0, kSimulationNone, "40"),
            MakeTagDefinition("Valve.Open", 10, 0, kSimulationNone, "1")};
}

class OpcServerEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(nullptr, FindWindowA(kServerWindowClass, nullptr)) << "a server already runs";
        ASSERT_EQ(nullptr, FindWindowA(kViewerWindowClass, nullptr)) << "a Viewer already runs";
        m_directory = std::make_unique<TempDirectory>();
        const std::string system = m_directory->MakeSubdirectory("system");
        const std::string project = m_directory->MakeSubdirectory("project") + "\\";
        std::string error;
        ASSERT_TRUE(WriteProjectPointer(system, project, error)) << error;
        ASSERT_TRUE(WriteTagDatabase(project + "TAGNAME.DB", ProjectTags(), error)) << error;
        ASSERT_TRUE(WriteProfileStringA(kProfileSection, SystemDirectoryProfileKey().c_str(),
                                        system.c_str()));

        m_system = system;
        ASSERT_TRUE(StartViewer());

        std::string output;
        ASSERT_EQ(0u,
                  RunProgram(L"opcreg.exe",
                             L"/register \"" + ProgramFolder() + kServerProgram + L"\"", output))
            << output;
        ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    }

    void TearDown() override
    {
        CoUninitialize();
        EXPECT_TRUE(CloseServer());
        EXPECT_TRUE(CloseViewer());
        std::string output;
        EXPECT_EQ(0u, RunProgram(L"opcreg.exe", L"/unregister", output)) << output;
        WriteProfileStringA(kProfileSection, SystemDirectoryProfileKey().c_str(), nullptr);
        m_viewer.reset();
        m_directory.reset();
    }

    bool StartViewer()
    {
        m_viewer = StartProgram(L"PXViewer.exe",
                                L"--system-dir \"" + WideFromAnsi(m_system) + L"\"", nullptr);
        return m_viewer &&
               WaitUntil([] { return FindWindowA(kViewerWindowClass, nullptr) != nullptr; },
                         kPatienceMs);
    }

    bool CloseViewer()
    {
        const bool closed = CloseProgramWindow(kViewerWindowClass);
        m_viewer.reset();
        return closed;
    }

private:
    std::unique_ptr<TempDirectory> m_directory;
    std::string m_system;
    UniqueHandle m_viewer;
};

OpcServerEnvironment* const g_environment = static_cast<OpcServerEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new OpcServerEnvironment));

}  // namespace

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring program = path;
    return program.substr(0, program.find_last_of(L'\\') + 1);
}

DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, std::string& output)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16)) return STILL_ACTIVE;
    UniqueHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    UniqueHandle process = StartProgram(program, arguments, writeEnd);
    writer.reset();  // the program's copy is the last: reading ends when the program ends
    if (!process) return STILL_ACTIVE;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        output.append(buffer, got);
    }
    if (WaitForSingleObject(process.get(), kPatienceMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

UniqueHandle StartClientProgram(const std::wstring& program, const std::wstring& arguments)
{
    return StartProgram(program, arguments, nullptr);
}

OtherClient::OtherClient(const wchar_t* mode)
    : m_events(L"Parhelionix other client " + std::to_wstring(GetCurrentProcessId())),
      m_ready(CreateEventW(nullptr, TRUE, FALSE, (m_events + L" ready").c_str())),
      m_noticed(CreateEventW(nullptr, TRUE, FALSE, (m_events + L" noticed").c_str())),
      m_process(StartClientProgram(L"frozen_shutdown_client.exe",
                                   std::wstring(mode) + L" \"" + m_events + L"\""))
{
}

bool OtherClient::Connected() const
{
    HANDLE readyOrEnded[] = {m_ready.get(), m_process.get()};
    return m_process &&
           WaitForMultipleObjects(2, readyOrEnded, FALSE, kPatienceMs) == WAIT_OBJECT_0;
}

bool OtherClient::Frozen(DWORD waitMs) const
{
    return WaitForSingleObject(m_noticed.get(), waitMs) == WAIT_OBJECT_0;
}

bool OtherClient::Running() const
{
    return m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

void OtherClient::Kill() const
{
    if (!m_process) return;
    TerminateProcess(m_process.get(), 0);
    WaitForSingleObject(m_process.get(), kPatienceMs);
}

bool CloseServer()
{
    return CloseProgramWindow(kServerWindowClass);
}

bool CloseViewer()
{
    return g_environment->CloseViewer();
}

bool StartViewer()
{
    return g_environment->StartViewer();
}

DWORD ServerProcessId()
{
    HWND window = FindWindowA(kServerWindowClass, nullptr);
    DWORD processId = 0;
    if (window) GetWindowThreadProcessId(window, &processId);
    return processId;
}
