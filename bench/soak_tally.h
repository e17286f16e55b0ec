#pragma once
// The soak's tally: a named shared block in which the subscriber and churn processes count
// what they see, read by the coordinating process every report. Counters only grow.
#include <windows.h>

#include <string>

constexpr int kMaxSubscribers = 16;

struct SubscriberTally {
    volatile LONG deliveries;
    volatile LONG64 lastDeliveryTick;  // GetTickCount64 of the last delivery, 0 before the first
    volatile LONG64 longestGapMs;      // between two deliveries
};

struct SoakTally {
    SubscriberTally subscribers[kMaxSubscribers];
    volatile LONG churnCycles;
    volatile LONG churnFailures;
};

// The block and the stop event of one soak, named after the coordinating process.
class SoakShared {
public:
    // Creates them (coordinator) or opens them (clients).
    SoakShared(DWORD coordinatorId, bool create);
    ~SoakShared();
    SoakShared(const SoakShared&) = delete;
    SoakShared& operator=(const SoakShared&) = delete;

    bool Ready() const { return m_tally != nullptr && m_stop != nullptr; }
    SoakTally& Tally() { return *m_tally; }
    HANDLE StopEvent() const { return m_stop; }
    bool Stopping() const { return WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0; }

private:
    HANDLE m_mapping = nullptr;
    HANDLE m_stop = nullptr;
    SoakTally* m_tally = nullptr;
};
