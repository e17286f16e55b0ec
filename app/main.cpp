#include <windows.h>

#include "app/opc_server_app.h"

// The one application object, alive for the whole process.
COPCServerApp theApp;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    return AfxWinMain(instance, showCommand);
}
