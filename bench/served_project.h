#pragma once
// The registered OPCServer.exe serving a project of integer tags to this process across
// the process boundary: the project written to a temporary folder, PXViewer.exe running it,
// the server registered with opcreg.exe and started by COM at the first activation. Ended
// (server and Viewer through their windows, registration removed) when the object goes.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/temp_directory.h"

class ServedProject {
public:
    // `pollPeriodMs` 0 leaves the Viewer configuration to the server (its default period).
    explicit ServedProject(int tags, int32_t pollPeriodMs = 0);
    ~ServedProject();
    ServedProject(const ServedProject&) = delete;
    ServedProject& operator=(const ServedProject&) = delete;

    // Empty when the project serves; otherwise what went wrong.
    const std::string& Failure() const { return m_failure; }

private:
    std::string m_failure;
    TempDirectory m_directory;
    HANDLE m_viewer = nullptr;
    bool m_registered = false;
};
