#pragma once
// One call to a client's sink, built on the main thread and made on the group's delivery
// thread (or at once for a sink in the server's own apartment): a stream for an advise sink,
// or a callback of the data-callback connection. The call owns everything it hands over.
#include <unknwn.h>

class SinkCall {
public:
    virtual ~SinkCall() = default;

    // Makes the call on `sink`, the connection's sink; the call's own result, which tells
    // whether the client is gone (an advise sink's calls report nothing: S_OK).
    virtual HRESULT MakeOn(IUnknown& sink) = 0;
    // A data change, which a newer one may take the place of while its client does not
    // answer; completions never coalesce.
    virtual bool Coalesces() const = 0;
    // Called on a newer coalescing call with a waiting older one of the same connection, and
    // whether a completion of that connection waits between them: true when this call now
    // carries all that `older` would have told the client (taking from it what it lacks), so
    // that `older` may be dropped.
    virtual bool Absorb(SinkCall& older, bool completionBetween) = 0;
};
