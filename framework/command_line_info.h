#pragma once
#include <string>

// The standard command line: an optional document file and the flags COM and the shell pass
// to a server. None of them changes what the application does on start.
class CCommandLineInfo {
public:
    enum ShellCommand { FileNew, FileOpen };

    virtual ~CCommandLineInfo() = default;
    // One argument, without its '/' or '-' when it is a flag.
    virtual void ParseParam(const char* param, bool isFlag, bool isLast);

    ShellCommand m_nShellCommand = FileNew;
    std::string m_strFileName;
    bool m_bRunEmbedded = false;  // started by COM for a client
};

// Feeds arguments 1 .. argc - 1 to info.
void ParseArguments(CCommandLineInfo& info, int argc, const char* const* argv);
