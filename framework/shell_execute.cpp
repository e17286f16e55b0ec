#include "framework/shell_execute.h"

#include <shellapi.h>

namespace {

HINSTANCE LaunchForReal(HWND owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCommand)
{
    return ShellExecuteA(owner, verb, file, parameters, directory, showCommand);
}

ShellExecuteSeam g_shellExecute = LaunchForReal;

}  // namespace

HINSTANCE AfxShellExecute(HWND owner, const char* verb, const char* file, const char* parameters,
                          const char* directory, int showCommand)
{
    return g_shellExecute(owner, verb, file, parameters, directory, showCommand);
}

ShellExecuteSeam SetShellExecuteSeam(ShellExecuteSeam seam)
{
    ShellExecuteSeam previous = g_shellExecute;
    g_shellExecute = seam ? seam : LaunchForReal;
    return previous == LaunchForReal ? nullptr : previous;
}
