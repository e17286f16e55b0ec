#pragma once
#include <string>
#include <vector>

// PXViewer.exe [--rate MS] [--log PATH] [--system-dir PATH]
struct ViewerOptions {
    int rateMs = 1000;            // simulation step and write-request check period
    std::string logPath;          // empty: the project directory's PXVIEWER.LOG
    std::string systemDirectory;  // empty: from win.ini as the server finds it
};

constexpr int kMinRateMs = 10;
constexpr int kMaxRateMs = 3600000;
constexpr char kViewerUsage[] =
    "usage: PXViewer.exe [--rate MS] [--log PATH] [--system-dir PATH]\n"
    "  --rate MS          step period, 10..3600000 ms (default 1000)\n"
    "  --log PATH         write-request log (default: project directory\\PXVIEWER.LOG)\n"
    "  --system-dir PATH  system program directory (default: win.ini, else current directory)\n";

// Parses the arguments after the program name; false with error on anything else.
bool ParseViewerOptions(const std::vector<std::string>& arguments, ViewerOptions& options,
                        std::string& error);
