#pragma once
#include <windows.h>

#include <string>
#include <vector>

class ClientSession;

using CommandArguments = std::vector<std::wstring>;

// One command of the client. `run` prints its results and returns S_OK or the failing call's
// result; each family of commands lives in its own file and lists its commands in a table.
struct Command {
    const wchar_t* name;
    const wchar_t* arguments;  // for the usage text
    const wchar_t* summary;
    size_t minArguments;
    size_t maxArguments;
    HRESULT (*run)(ClientSession& session, const CommandArguments& arguments);
};

struct CommandFamily {
    const Command* commands;
    size_t count;
};

CommandFamily StatusCommands();
CommandFamily GroupCommands();
CommandFamily BrowseCommands();
CommandFamily ItemCommands();
CommandFamily WatchCommands();
CommandFamily AsyncCommands();
CommandFamily Da2Commands();
CommandFamily Da3ServerCommands();
CommandFamily Da3GroupCommands();
