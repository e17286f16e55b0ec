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

// IOPCAsyncIO2/3 requests are answered as soon as the call that made them has returned: their
// group is noted, and the server's message loop runs RunPromptCompletions on its next turn
// (the poster asks it to). Without a poster the group's next update pass answers them.
void AnswerPromptly(DeliveryGroup& group);
// `post(context)` asks the main thread to call RunPromptCompletions soon, false when it could
// not; null for none.
void SetPromptCompletionPoster(bool (*post)(void* context), void* context);
// Answers the waiting requests of every group noted since the last turn, oldest first.
void RunPromptCompletions();
