#include "framework/command_line_info.h"

#include <windows.h>

void CCommandLineInfo::ParseParam(const char* param, bool isFlag, bool)
{
    if (isFlag) {
        // Other flags of the standard command line mean nothing to these programs.
        if (lstrcmpiA(param, "Embedding") == 0) m_bRunEmbedded = true;
        return;
    }
    if (m_strFileName.empty()) {
        m_strFileName = param;
        m_nShellCommand = FileOpen;
    }
}

void ParseArguments(CCommandLineInfo& info, int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* param = argv[i];
        bool isFlag = param[0] == '/' || param[0] == '-';
        info.ParseParam(isFlag ? param + 1 : param, isFlag, i + 1 == argc);
    }
}
