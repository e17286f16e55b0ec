#pragma once
// How many clients and groups the server serves at once. Two DWORD settings beside SupportTrace
// (HKEY_CURRENT_USER\Software\Parhelionix\OPC Server), read once at start-up: MaxClients, the
// server objects served at once (1..256, 9 when unset), and MaxGroupsPerClient, the groups of
// one server object (1..1000, 10 when unset). The server table and the group tables grow with
// what is in use up to these limits; a value outside its range is taken as its nearest end.
#include <windows.h>

struct ServerCapacity {
    int maxClients;
    int maxGroupsPerClient;
};

constexpr ServerCapacity kDefaultServerCapacity{9, 10};
constexpr ServerCapacity kLargestServerCapacity{256, 1000};
constexpr char kMaxClientsSetting[] = "MaxClients";
constexpr char kMaxGroupsPerClientSetting[] = "MaxGroupsPerClient";

// The limits in force.
const ServerCapacity& CurrentServerCapacity();
// Puts the limits in force, each brought into its range (the trace says when one had to be);
// returns what is in force.
ServerCapacity SetServerCapacity(DWORD maxClients, DWORD maxGroupsPerClient);
// Reads the two settings (an unset one keeps its default) and puts them in force. Start-up runs
// it once, after the trace has started, so that the trace tells the limits of the run.
void LoadServerCapacity();
