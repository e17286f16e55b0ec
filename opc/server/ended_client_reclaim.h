#pragma once

// Frees the server objects of clients whose process has ended, with their groups, items and
// sinks: such a client never releases them, and Wine runs no DCOM ping that would. A client's
// end is known from its process where the server table watches it, otherwise from a sink
// that found it gone (dead_sink_report.h). Each server
// leaves the server table first, so that its entry serves a new client at once; then its groups
// and the server are disconnected from their stubs (dropping the dead client's references), and
// the server's groups leave its group table. Other clients' objects are not touched. Runs on
// the main thread, from the poll cycle.
void ReclaimServersOfEndedClients();
