#pragma once
#include <windows.h>

#include <cstdint>

class DeliveryGroup;

// One update pass of `group` with the poll period and the poll cycle's time: the countdown,
// the item refresh, the data-change streams, the data callback's data change and the
// completions of its asynchronous requests.
void RunUpdatePass(DeliveryGroup& group, int32_t pollPeriodMs, const FILETIME& cycleTime);

// The group leaves the update passes (its server's table let it go): every asynchronous request
// it accepted is answered now, as the next pass would have answered it, while its sinks are
// there.
void AnswerWaitingRequests(DeliveryGroup& group);
