// Soak: N subscribers and a churn client (groups, items, item attribute enumerators with Next,
// reads, writes, validation) against the registered OPCServer.exe for a given time, while
// short-lived churn clients are started and killed mid-call. Every report period it prints the
// server's memory, handles and threads, each subscriber's deliveries and its longest gap
// between deliveries; at the end the growth per hour and whether the server still answers.
// Every wait is bounded: a server that hangs ends the soak with "no longer answers".
//
//     soak.exe [--seconds 120] [--subscribers 3] [--report 30] [--victims on|off]
// Exit code 0 when the server still answers and every subscriber got deliveries.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/program_start.h"
#include "bench/served_project.h"
#include "bench/server_figures.h"
#include "bench/soak_clients.h"
#include "bench/soak_tally.h"

namespace {

constexpr DWORD kPingPatienceMs = 30000;
constexpr DWORD kStopPatienceMs = 20000;
constexpr DWORD kVictimLifeMs = 3000;

struct Options {
    int seconds = 120;
    int subscribers = 3;
    int reportSeconds = 30;
    bool victims = true;  // churn clients started and killed mid-call
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--victims")) {
            if (std::strcmp(argv[i + 1], "on") && std::strcmp(argv[i + 1], "off")) return false;
            options.victims = !std::strcmp(argv[i + 1], "on");
            continue;
        }
        if (value <= 0) return false;
        if (!std::strcmp(argv[i], "--seconds")) {
            options.seconds = value;
        } else if (!std::strcmp(argv[i], "--subscribers")) {
            options.subscribers = value;
        } else if (!std::strcmp(argv[i], "--report")) {
            options.reportSeconds = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && options.subscribers <= kMaxSubscribers;
}

// A client role of this same program, in a process of its own; null when it cannot start.
HANDLE StartRole(const std::string& arguments)
{
    return StartBesideThis("soak.exe", arguments);
}

// Ends a process this program started: first its own way (bounded), then by force.
void EndStarted(HANDLE process, DWORD patienceMs)
{
    if (!process) return;
    if (WaitForSingleObject(process, patienceMs) != WAIT_OBJECT_0) TerminateProcess(process, 1);
    WaitForSingleObject(process, kStopPatienceMs);
    CloseHandle(process);
}

// Whether a new client gets an answer from the server within the patience.
bool ServerAnswers(const std::string& roleArguments)
{
    HANDLE ping = StartRole("--ping " + roleArguments);
    if (!ping) return false;
    DWORD exitCode = 1;
    if (WaitForSingleObject(ping, kPingPatienceMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(ping, &exitCode);
    }
    EndStarted(ping, 0);
    return exitCode == 0;
}

double Hours(ULONGLONG fromTick, ULONGLONG toTick)
{
    return (toTick - fromTick) / 3600000.0;
}

void Report(ULONGLONG startTick, HANDLE server, SoakTally& tally, int subscribers,
            std::vector<LONG>& lastDeliveries, int kills)
{
    const ULONGLONG now = GetTickCount64();
    ServerFigures figures;
    std::printf("[%5.0f s] ", (now - startTick) / 1000.0);
    if (server && ReadFigures(server, figures)) {
        std::printf("%s\n", Describe(figures).c_str());
    } else {
        std::printf("server figures not readable\n");
    }
    for (int i = 0; i < subscribers; ++i) {
        const SubscriberTally& subscriber = tally.subscribers[i];
        const LONG deliveries = subscriber.deliveries;
        const LONG64 last = subscriber.lastDeliveryTick;
        const LONG64 sinceLast = last ? static_cast<LONG64>(now) - last : 0;
        const LONG64 longestGap = subscriber.longestGapMs;
        std::printf("           subscriber %d: %ld deliveries (+%ld), longest gap %lld ms%s\n", i,
                    deliveries, deliveries - lastDeliveries[i], std::max(longestGap, sinceLast),
                    sinceLast > longestGap ? " (still waiting)" : "");
        lastDeliveries[i] = deliveries;
    }
    std::printf("           churn: %ld cycles, %ld failed, %d clients killed\n", tally.churnCycles,
                tally.churnFailures, kills);
    std::fflush(stdout);
}

int Coordinate(const Options& options)
{
    const ServedProject project(kSoakTags);
    if (!project.Failure().empty()) {
        std::fprintf(stderr, "soak not run: %s\n", project.Failure().c_str());
        return 1;
    }
    SoakShared shared(GetCurrentProcessId(), true);
    if (!shared.Ready()) {
        std::fprintf(stderr, "soak not run: no shared tally\n");
        return 1;
    }
    const std::string roleArguments = std::to_string(GetCurrentProcessId());
    // The first client's activation starts the server; the others join the running server
    // (activations racing the server's start-up were seen to fail under Wine).
    std::vector<HANDLE> clients;
    clients.push_back(StartRole("--subscriber " + roleArguments + " 0"));
    HANDLE server = nullptr;
    for (DWORD waited = 0; !server && waited < kPingPatienceMs; waited += 100) {
        server = OpenRunningServer();
        if (!server) Sleep(100);
    }
    for (int i = 1; i < options.subscribers; ++i) {
        clients.push_back(StartRole("--subscriber " + roleArguments + " " + std::to_string(i)));
    }
    clients.push_back(StartRole("--churn " + roleArguments));
    std::printf("soak: %d subscribers, 1 churn client, %s, %d s\n", options.subscribers,
                options.victims ? "a churn client killed every 3 s" : "no client killed",
                options.seconds);
    // Growth counts from the first report on: the server's start-up and first clients grow it
    // once, and that is no leak.
    ServerFigures first{}, last{};
    ULONGLONG firstTick = 0;
    const ULONGLONG startTick = GetTickCount64();
    const ULONGLONG endTick = startTick + options.seconds * 1000ULL;
    ULONGLONG nextReport = startTick + options.reportSeconds * 1000ULL;
    std::vector<LONG> lastDeliveries(options.subscribers, 0);
    int kills = 0;
    bool answers = true;
    while (GetTickCount64() < endTick && answers) {
        HANDLE victim = options.victims ? StartRole("--churn " + roleArguments) : nullptr;
        Sleep(kVictimLifeMs);
        if (victim) {
            TerminateProcess(victim, 1);  // mid-call, as a crashing client would end
            EndStarted(victim, 0);
            ++kills;
        }
        if (GetTickCount64() >= nextReport) {
            Report(startTick, server, shared.Tally(), options.subscribers, lastDeliveries, kills);
            if (!firstTick && server && ReadFigures(server, first)) firstTick = GetTickCount64();
            nextReport += options.reportSeconds * 1000ULL;
            answers = ServerAnswers(roleArguments);
            if (!answers) std::printf("the server no longer answers a new client\n");
        }
    }
    Report(startTick, server, shared.Tally(), options.subscribers, lastDeliveries, kills);
    answers = answers && ServerAnswers(roleArguments);
    const bool figures = server && ReadFigures(server, last);
    SetEvent(shared.StopEvent());
    for (HANDLE client : clients) EndStarted(client, kStopPatienceMs);

    bool everyoneDelivered = true;
    for (int i = 0; i < options.subscribers; ++i) {
        everyoneDelivered = everyoneDelivered && shared.Tally().subscribers[i].deliveries > 0;
    }
    if (figures && firstTick) {
        const double hours = Hours(firstTick, GetTickCount64());
        const double growth = double(last.privateBytes) - double(first.privateBytes);
        std::printf(
            "growth since the first report: %+.2f MB private bytes in %.2f h, %+.1f MB per hour; "
            "handles %+ld, "
            "threads %+ld\n",
            growth / 1048576.0, hours, growth / 1048576.0 / hours,
            static_cast<long>(last.handles) - static_cast<long>(first.handles),
            static_cast<long>(last.threads) - static_cast<long>(first.threads));
    }
    std::printf(
        "the server %s; %s\n", answers ? "still answers" : "no longer answers",
        everyoneDelivered ? "every subscriber got deliveries" : "a subscriber got no deliveries");
    if (server) CloseHandle(server);
    return answers && everyoneDelivered ? 0 : 1;
}

// soak.exe --subscriber <coordinator id> <slot> | --churn <coordinator id> | --ping <id>
int RunRole(int argc, char** argv)
{
    SoakShared shared(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)), false);
    if (!shared.Ready() || FAILED(CoInitialize(nullptr))) return 2;
    int result = 2;
    if (!std::strcmp(argv[1], "--subscriber") && argc == 4) {
        result = RunSubscriber(shared, std::atoi(argv[3]));
    } else if (!std::strcmp(argv[1], "--churn")) {
        result = RunChurn(shared);
    } else if (!std::strcmp(argv[1], "--ping")) {
        result = Ping();
    }
    CoUninitialize();
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && (!std::strcmp(argv[1], "--subscriber") || !std::strcmp(argv[1], "--churn") ||
                      !std::strcmp(argv[1], "--ping"))) {
        return RunRole(argc, argv);
    }
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: soak.exe [--seconds N] [--subscribers N] [--report N]\n");
        return 2;
    }
    return Coordinate(options);
}
