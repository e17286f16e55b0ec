// tag_monitor.exe: shows the tags of the running Viewer's shared tag area, read-only, once or
// every few milliseconds; or asks the Viewer to close.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console_text.h"
#include "runtime_link/ansi_text.h"
#include "runtime_link/tag_record.h"
#include "viewer/bounded_wait.h"
#include "viewer/tag_value.h"
#include "viewer/viewer_window.h"
#include "viewer/win_handles.h"

namespace {

constexpr char kUsage[] =
    "usage: tag_monitor.exe [--wait MS] [--every MS] [--times N] [--count N]\n"
    "       tag_monitor.exe --close-viewer [--wait MS]\n"
    "  --wait MS       wait up to MS for the shared tag area, or for the Viewer to end\n"
    "                  (default 5000)\n"
    "  --every MS      pause between snapshots (default 1000)\n"
    "  --times N       number of snapshots (default 1)\n"
    "  --count N       records shown (default: every record that has a name)\n"
    "  --close-viewer  post WM_CLOSE to the Viewer window and wait for it to go\n";

struct MonitorOptions {
    int waitMs = 5000;
    int everyMs = 1000;
    int times = 1;
    int count = -1;
    bool closeViewer = false;
};

bool ParseNumber(const char* text, int& value)
{
    char* end = nullptr;
    long number = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || number < 0 || number > 86400000) return false;
    value = int(number);
    return true;
}

bool ParseOptions(int argc, char** argv, MonitorOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--close-viewer") {
            options.closeViewer = true;
            continue;
        }
        int* target = option == "--wait"    ? &options.waitMs
                      : option == "--every" ? &options.everyMs
                      : option == "--times" ? &options.times
                      : option == "--count" ? &options.count
                                            : nullptr;
        if (!target || i + 1 == argc || !ParseNumber(argv[++i], *target)) return false;
    }
    return true;
}

int CloseViewer(int waitMs)
{
    HWND viewer = FindWindowA(kViewerWindowClass, nullptr);
    if (!viewer) {
        std::fputs("tag_monitor: no Viewer window\n", stderr);
        return 3;
    }
    PostMessageA(viewer, WM_CLOSE, 0, 0);
    if (!WaitUntil([] { return FindWindowA(kViewerWindowClass, nullptr) == nullptr; }, waitMs)) {
        std::fputs("tag_monitor: the Viewer window is still there\n", stderr);
        return 4;
    }
    WriteOutput(L"Viewer closed\n");
    return 0;
}

void ShowSnapshot(const TagRecord* area, int capacity, int count, int number)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t line[128];
    swprintf(line, 128, L"-- snapshot %d at %02u:%02u:%02u.%03u\n", number, now.wHour, now.wMinute,
             now.wSecond, now.wMilliseconds);
    std::wstring text = line;
    const int shown = count < 0 ? capacity : std::min(count, capacity);
    for (int i = 0; i < shown; ++i) {
        TagRecord record;
        std::memcpy(&record, &area[i], sizeof record);
        const std::string name = AnsiFieldText(record.name, sizeof record.name);
        if (count < 0 && name.empty()) continue;
        swprintf(line, 128, L"%5d  type %2d  ", i, int(record.typeCode));
        text += line + WideFromAnsi(name) + L" = " + WideFromAnsi(ValueText(record)) + L"\n";
    }
    WriteOutput(text);
}

int Monitor(const MonitorOptions& options)
{
    UniqueHandle mapping;
    WaitUntil(
        [&] {
            mapping.reset(OpenFileMappingA(FILE_MAP_READ, FALSE, kSharedTagAreaName));
            return mapping != nullptr;
        },
        options.waitMs);
    if (!mapping) {
        std::fputs("tag_monitor: no shared tag area (is the Viewer running?)\n", stderr);
        return 3;
    }
    const UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    MEMORY_BASIC_INFORMATION region{};
    if (!view || VirtualQuery(view.get(), &region, sizeof region) != sizeof region) {
        std::fputs("tag_monitor: cannot map the shared tag area\n", stderr);
        return 3;
    }
    const int capacity = int(region.RegionSize / sizeof(TagRecord));
    for (int i = 1; i <= options.times; ++i) {
        if (i > 1) Sleep(DWORD(options.everyMs));
        ShowSnapshot(static_cast<const TagRecord*>(view.get()), capacity, options.count, i);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    MonitorOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    return options.closeViewer ? CloseViewer(options.waitMs) : Monitor(options);
}
