#pragma once
// The client roles of the soak, each run in a process of its own by soak.exe. Each returns the
// process's exit code.
#include "bench/soak_tally.h"

constexpr int kSoakTags = 10;

// Subscribes a group of every tag through IDataObject and counts the deliveries into its slot
// of the tally, pumping messages until the stop event.
int RunSubscriber(SoakShared& shared, int slot);

// Until the stop event: adds a group and items, enumerates their attributes with Next, reads,
// writes, validates, removes items and group again; counts the cycles (and failures).
int RunChurn(SoakShared& shared);

// Creates a server object and asks its status: 0 when the server answers.
int Ping();
