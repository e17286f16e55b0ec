#pragma once

// Frees what clients whose process has ended made: each such client's server object, every
// group it made (in its table or removed from it, and their clones) with their items and sinks.
// Such a client never releases them, and Wine runs no DCOM ping that would. A client's end is
// known from its process where its session watches it; a client whose process is not known is
// left to COM's own rundown (a sink found gone drops only that sink's advise). The server
// object leaves the server table first, so that its entry serves a new client at once; then its
// groups and the server are disconnected from their stubs (dropping the dead client's
// references), and the server's groups leave its group table. Other clients' objects are not
// touched, and no client is called. Runs on the main thread, from the poll cycle.
void ReclaimServersOfEndedClients();
