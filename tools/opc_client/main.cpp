// opcclient: a command-line OPC DA 1.0, 2.0 and 3.0 client.
//
//   opcclient [--server <ProgID or {CLSID}>] <command> [<argument>...] [+ <command> ...]
//
// Creates one server object through COM (by default "Parhelionix.OPCServer") and runs the
// commands in order on it; the first failure ends the run. Exit code 0 on success, 1 for a wrong
// command line, 2 when the server cannot be created, 3 when a command fails.
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "client_session.h"
#include "command.h"
#include "console_output.h"
#include "server_identity.h"

namespace {

enum ExitCode { kOk = 0, kUsage = 1, kNoServer = 2, kCommandFailed = 3 };

constexpr wchar_t kCommandSeparator[] = L"+";

struct Invocation {
    const Command* command;
    CommandArguments arguments;
};

std::vector<CommandFamily> Families()
{
    return {StatusCommands(), GroupCommands(),     BrowseCommands(),
            ItemCommands(),   WatchCommands(),     AsyncCommands(),
            Da2Commands(),    Da3ServerCommands(), Da3GroupCommands()};
}

const Command* FindCommand(const std::wstring& name)
{
    for (const CommandFamily& family : Families()) {
        for (size_t i = 0; i < family.count; ++i) {
            if (name == family.commands[i].name) return &family.commands[i];
        }
    }
    return nullptr;
}

int Usage()
{
    PrintErrorLine(
        L"usage: opcclient [--server <ProgID or {CLSID}>] <command> [<argument>...] "
        L"[+ <command> [<argument>...]]...");
    PrintErrorLine(L"The commands run in order on one server object (default server " +
                   std::wstring(kServerVersionIndependentProgId) +
                   L"); groups live as long as the run.");
    for (const CommandFamily& family : Families()) {
        for (size_t i = 0; i < family.count; ++i) {
            const Command& command = family.commands[i];
            std::wstring line = L"  " + std::wstring(command.name);
            if (*command.arguments) line += L" " + std::wstring(command.arguments);
            PrintErrorLine(line + L"\n      " + command.summary);
        }
    }
    return kUsage;
}

// Splits the command words at the separators; false for an unknown command or wrong count.
bool ParseInvocations(const std::vector<std::wstring>& words, std::vector<Invocation>& invocations)
{
    for (size_t i = 0; i < words.size();) {
        const Command* command = FindCommand(words[i]);
        if (!command) {
            PrintErrorLine(L"opcclient: unknown command \"" + words[i] + L"\"");
            return false;
        }
        Invocation invocation{command, {}};
        for (++i; i < words.size() && words[i] != kCommandSeparator; ++i) {
            invocation.arguments.push_back(words[i]);
        }
        if (i < words.size()) ++i;  // the separator
        if (invocation.arguments.size() < command->minArguments ||
            invocation.arguments.size() > command->maxArguments) {
            PrintErrorLine(L"opcclient: wrong number of arguments for " +
                           std::wstring(command->name));
            return false;
        }
        invocations.push_back(std::move(invocation));
    }
    return !invocations.empty();
}

// COM for this thread for as long as the run lasts.
class ComApartment {
public:
    ComApartment() : m_hr(CoInitialize(nullptr)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_hr)) CoUninitialize();
    }
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};

int Run(const std::vector<std::wstring>& argv)
{
    std::wstring server = kServerVersionIndependentProgId;
    size_t first = 1;
    if (argv.size() > 2 && argv[1] == L"--server") {
        server = argv[2];
        first = 3;
    }
    std::vector<Invocation> invocations;
    if (!ParseInvocations({argv.begin() + first, argv.end()}, invocations)) return Usage();

    ComApartment apartment;
    ClientSession session;
    if (FAILED(apartment.Result())) {
        PrintErrorLine(L"opcclient: COM: " + session.ErrorText(apartment.Result()));
        return kNoServer;
    }
    const HRESULT connected = session.Connect(server);
    if (FAILED(connected)) {
        PrintErrorLine(L"opcclient: cannot create " + server + L": " +
                       session.ErrorText(connected));
        return kNoServer;
    }
    for (const Invocation& invocation : invocations) {
        const HRESULT hr = invocation.command->run(session, invocation.arguments);
        if (FAILED(hr)) {
            PrintErrorLine(L"opcclient: " + std::wstring(invocation.command->name) + L": " +
                           session.ErrorText(hr));
            return kCommandFailed;
        }
    }
    return kOk;
}

}  // namespace

int main()
{
    int count = 0;
    std::unique_ptr<wchar_t*, decltype(&LocalFree)> args(
        CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
    if (!args) return Usage();
    return Run(std::vector<std::wstring>(args.get(), args.get() + count));
}
