// Stands in for PXViewer.exe where a test wants to see how the server starts the Viewer:
// notes its working directory and show command in viewer_started.txt there, then ends.
#include <windows.h>

#include <fstream>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand)
{
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    std::ofstream("viewer_started.txt", std::ios::binary) << directory << "\n"
                                                          << showCommand << "\n";
    return 0;
}
