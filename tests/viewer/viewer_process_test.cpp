// Runs the real PXViewer.exe as the server meets it: its window, its shared tag area filled
// from the project, write requests taken and logged, and an orderly end on WM_CLOSE.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "runtime_link/ansi_text.h"
#include "runtime_link/tag_record.h"
#include "tests/support/temp_directory.h"
#include "viewer/bounded_wait.h"
#include "viewer/project_location.h"
#include "viewer/tag_database.h"
#include "viewer/viewer_window.h"
#include "viewer/win_handles.h"

namespace {

constexpr int kPatienceMs = 10000;  // bounds every wait; a healthy run needs a fraction

template <typename Ready>
bool WaitFor(Ready ready)
{
    return WaitUntil(ready, kPatienceMs);
}

std::string BinDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory = path;
    return directory.substr(0, directory.rfind('\\'));
}

// Starts a program of the build's bin directory, its standard output into output when given;
// null when it cannot be started.
UniqueHandle StartProgram(const char* program, const std::string& arguments,
                          HANDLE output = nullptr)
{
    std::string commandLine = "\"" + BinDirectory() + "\\" + program + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr, 0,
                        nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return UniqueHandle(process.hProcess);
}

DWORD ExitCodeAfterEnd(HANDLE process)
{
    if (WaitForSingleObject(process, kPatienceMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}

// Runs tag_monitor.exe to its end; its exit code, and its standard output in output.
DWORD RunTagMonitor(const std::string& arguments, std::string& output)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16)) return STILL_ACTIVE;
    UniqueHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    UniqueHandle monitor = StartProgram("tag_monitor.exe", arguments, writeEnd);
    writer.reset();  // the monitor's copy is the last: reading ends when the monitor ends
    if (!monitor) return STILL_ACTIVE;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
        output.append(buffer, got);
    return ExitCodeAfterEnd(monitor.get());
}

class ViewerProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(nullptr, FindWindowA(kViewerWindowClass, nullptr)) << "a Viewer already runs";
        m_system = m_dir.MakeSubdirectory("system");
        m_project = m_dir.MakeSubdirectory("project") + "\\";
        std::string error;
        ASSERT_TRUE(WriteProjectPointer(m_system, m_project, error)) << error;
    }

    // A Viewer a failed test left running would spoil the tests after it.
    void TearDown() override
    {
        for (const UniqueHandle& process : m_viewers) {
            if (!process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) continue;
            PostMessageA(FindWindowA(kViewerWindowClass, nullptr), WM_CLOSE, 0, 0);
            if (WaitForSingleObject(process.get(), kPatienceMs) != WAIT_OBJECT_0)
                TerminateProcess(process.get(), 99);
        }
    }

    // Starts PXViewer.exe; the fixture keeps the process handle.
    HANDLE StartViewer(const std::string& arguments)
    {
        m_viewers.push_back(StartProgram("PXViewer.exe", arguments));
        return m_viewers.back().get();
    }

    void WriteTags(const std::vector<TagDefinition>& tags)
    {
        std::string error;
        ASSERT_TRUE(WriteTagDatabase(m_project + "TAGNAME.DB", tags, error)) << error;
    }

    std::string Arguments() const
    {
        return "--rate 20 --system-dir \"" + m_system + "\" --log \"" + LogPath() + "\"";
    }
    std::string LogPath() const { return m_dir.File("requests.log"); }

    TempDirectory m_dir;
    std::string m_system, m_project;
    std::vector<UniqueHandle> m_viewers;
};

std::vector<TagDefinition> ProjectTags()
{
    std::vector<TagDefinition> tags(17, MakeTagDefinition("Spare", 1, 0, kSimulationNone, "0"));
    tags[0] = MakeTagDefinition("Level", 11, 0, kSimulationNone, "42");
    tags[1] = MakeTagDefinition(AnsiFromWide(L"温度"), 6, 0, kSimulationNone, "36.5");
    tags[2] = MakeTagDefinition("Operator", 7, 0, kSimulationNone, AnsiFromWide(L"张三"));
    tags[3] = MakeTagDefinition("Setpoint", 12, 1, kSimulationNone, "50");
    tags[4] = MakeTagDefinition("Event", 8, 0, kSimulationNone, "");
    tags[5] = MakeTagDefinition("Counter", 1, 0, kSimulationRamp, "0");
    tags[8] = MakeTagDefinition("$Year", 1, 0, kSimulationClockYear, "0");
    tags.push_back(MakeTagDefinition("Valve.Open", 4, 0, kSimulationNone, "1"));
    return tags;
}

TEST_F(ViewerProcess, ServesTheProjectTakesWriteRequestsAndClosesOnRequest)
{
    const std::vector<TagDefinition> tags = ProjectTags();
    WriteTags(tags);
    HANDLE viewer = StartViewer(Arguments());
    ASSERT_TRUE(viewer);
    // The window exists a moment before it is shown: wait for it to be shown minimised.
    EXPECT_TRUE(WaitFor([] {
        HWND window = FindWindowA(kViewerWindowClass, nullptr);
        return window && IsIconic(window);
    })) << "shown minimised";

    UniqueHandle mapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSharedTagAreaName));
    ASSERT_TRUE(mapping);
    UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_TRUE(view);
    MEMORY_BASIC_INFORMATION region{};
    ASSERT_EQ(sizeof region, VirtualQuery(view.get(), &region, sizeof region));
    ASSERT_GE(region.RegionSize, tags.size() * sizeof(TagRecord));
    auto* records = static_cast<volatile TagRecord*>(view.get());
    TagRecord* area = const_cast<TagRecord*>(records);

    for (size_t i = 0; i < tags.size(); ++i) {
        EXPECT_EQ(AnsiFieldText(tags[i].name, 36), AnsiFieldText(area[i].name, 36)) << i;
        EXPECT_EQ(tags[i].typeCode, area[i].typeCode) << i;
        EXPECT_EQ(tags[i].writeInhibit, area[i].writeInhibit) << i;
    }
    EXPECT_EQ(42, area[0].integerValue);
    EXPECT_EQ(36.5f, area[1].realValue);
    EXPECT_EQ(AnsiFromWide(L"张三"), AnsiFieldText(area[2].stringValue, 132));
    EXPECT_EQ(1, area[17].discreteValue);
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_TRUE(WaitFor([&] { return records[8].integerValue == now.wYear; }));
    EXPECT_TRUE(WaitFor([&] { return records[5].integerValue > 0; })) << "values change";

    // Post two requests as the server does: value in place, status, stamp, then the flag.
    area[0].integerValue = 1234;
    CopyAnsiField(area[2].stringValue, 132, AnsiFromWide(L"你好"));
    for (int tag : {0, 2}) {
        area[tag].requestStatus = 0;
        for (int i = 0; i < 7; ++i) area[tag].requestStamp[i] = 10 * tag + i + 1;
        records[tag].writeRequest = 1;
    }
    EXPECT_TRUE(
        WaitFor([&] { return records[0].writeRequest == 0 && records[2].writeRequest == 0; }));
    EXPECT_EQ(1234, area[0].integerValue);

    const std::string log = ReadBytes(LogPath());
    EXPECT_NE(std::string::npos, log.find("tag=0 name=\"Level\" type=11 value=\"1234\" status=0 "
                                          "stamp=1,2,3,4,5,6,7\n"))
        << log;
    EXPECT_NE(std::string::npos,
              log.find("tag=2 name=\"Operator\" type=7 value=\"\xE4\xBD\xA0\xE5\xA5\xBD\" status=0 "
                       "stamp=21,22,23,24,25,26,27\n"))
        << log;

    // A second Viewer refuses to start beside the first.
    HANDLE second = StartViewer(Arguments());
    ASSERT_TRUE(second);
    EXPECT_EQ(3u, ExitCodeAfterEnd(second));

    PostMessageA(FindWindowA(kViewerWindowClass, nullptr), WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, ExitCodeAfterEnd(viewer));
    EXPECT_EQ(nullptr, FindWindowA(kViewerWindowClass, nullptr));
}

TEST_F(ViewerProcess, DamagedTagDatabaseEndsTheViewerWithoutWindow)
{
    WriteBytes(m_project + "TAGNAME.DB", std::string("Parhelionix V7.11\0\0\0\x05\0\0\0", 24));
    HANDLE viewer = StartViewer(Arguments());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(2u, ExitCodeAfterEnd(viewer));
    EXPECT_EQ(nullptr, FindWindowA(kViewerWindowClass, nullptr));
}

TEST_F(ViewerProcess, MissingProjectEndsTheViewer)
{
    HANDLE viewer = StartViewer("--system-dir \"" + m_dir.File("nowhere") + "\"");
    ASSERT_TRUE(viewer);
    EXPECT_EQ(2u, ExitCodeAfterEnd(viewer));
}

TEST_F(ViewerProcess, TagMonitorShowsTheTagsInUtf8AndClosesTheViewer)
{
    WriteTags(ProjectTags());
    HANDLE viewer = StartViewer(Arguments());
    ASSERT_TRUE(viewer);

    std::string output;
    EXPECT_EQ(0u, RunTagMonitor("--wait 10000 --count 3", output));
    EXPECT_NE(std::string::npos, output.find("    0  type 11  Level = 42\n")) << output;
    EXPECT_NE(std::string::npos, output.find("    1  type  6  \xE6\xB8\xA9\xE5\xBA\xA6 = 36.5\n"))
        << output;
    EXPECT_EQ(std::string::npos, output.find("Setpoint")) << "only the first three records";

    // The Viewer fills its area before it makes its window.
    ASSERT_TRUE(WaitFor([] { return FindWindowA(kViewerWindowClass, nullptr) != nullptr; }));
    output.clear();
    EXPECT_EQ(0u, RunTagMonitor("--close-viewer --wait 10000", output));
    EXPECT_EQ(0u, ExitCodeAfterEnd(viewer));
    EXPECT_EQ(3u, RunTagMonitor("--close-viewer", output)) << "no Viewer left to close";
}

TEST_F(ViewerProcess, RestartedViewerRefillsTheAreaAServerStillHolds)
{
    WriteTags(ProjectTags());
    HANDLE viewer = StartViewer(Arguments());
    ASSERT_TRUE(viewer);
    ASSERT_TRUE(WaitFor([] { return FindWindowA(kViewerWindowClass, nullptr) != nullptr; }));
    UniqueHandle mapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSharedTagAreaName));
    ASSERT_TRUE(mapping);
    UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_TRUE(view);
    auto* records = static_cast<volatile TagRecord*>(view.get());
    records[0].integerValue = 7;
    PostMessageA(FindWindowA(kViewerWindowClass, nullptr), WM_CLOSE, 0, 0);
    ASSERT_EQ(0u, ExitCodeAfterEnd(viewer));

    viewer = StartViewer(Arguments());
    ASSERT_TRUE(viewer);
    ASSERT_TRUE(WaitFor([] { return FindWindowA(kViewerWindowClass, nullptr) != nullptr; }));
    EXPECT_EQ(42, records[0].integerValue);
    PostMessageA(FindWindowA(kViewerWindowClass, nullptr), WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, ExitCodeAfterEnd(viewer));
}

TEST_F(ViewerProcess, LeftOverAreaTooSmallForTheProjectEndsTheViewer)
{
    WriteTags(ProjectTags());
    UniqueHandle small(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                          kSharedTagAreaName));
    ASSERT_TRUE(small);
    HANDLE viewer = StartViewer(Arguments());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(3u, ExitCodeAfterEnd(viewer));
}

}  // namespace
