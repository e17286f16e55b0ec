#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "runtime_link/tag_record.h"
#include "tests/support/temp_directory.h"

// A project on disk where start-up looks for it: the win.ini entry naming a fresh system
// program directory, its PXMAKER.DAT naming a fresh project directory, and a TAGNAME.DB.
// Everything is removed again when the object goes.
class TestProject {
public:
    explicit TestProject(int32_t tagCount = 3);
    ~TestProject();
    TestProject(const TestProject&) = delete;
    TestProject& operator=(const TestProject&) = delete;

    const std::string& SystemDirectory() const { return m_systemDirectory; }
    // Ends with a backslash, as PXMAKER.DAT stores it.
    const std::string& ProjectDirectory() const { return m_projectDirectory; }

    void WriteMakerFile(const std::string& projectDirectory);
    void WriteTagDatabase(const char* header, int32_t tagCount);

private:
    TempDirectory m_root;
    std::string m_systemDirectory;
    std::string m_projectDirectory;
};

// A window of the given class in this process, for start-up to find; the class is
// unregistered again with the window, so that it cannot stand in for a later real one.
class MarkerWindow {
public:
    explicit MarkerWindow(const char* className);
    ~MarkerWindow();
    MarkerWindow(const MarkerWindow&) = delete;
    MarkerWindow& operator=(const MarkerWindow&) = delete;

    HWND Handle() const { return m_window; }

private:
    const char* m_className;
    HWND m_window;
};

// What the Viewer offers the server: its main window and, when asked for, its shared tag
// area with the given number of zeroed records.
class ViewerStandIn {
public:
    explicit ViewerStandIn(int records);
    ~ViewerStandIn();
    ViewerStandIn(const ViewerStandIn&) = delete;
    ViewerStandIn& operator=(const ViewerStandIn&) = delete;

    TagRecord* Records() const { return static_cast<TagRecord*>(m_view); }

private:
    MarkerWindow m_window{"Parhelionix Viewer Class"};
    HANDLE m_mapping = nullptr;
    void* m_view = nullptr;
};

extern const char kHeaderMagic[20];
