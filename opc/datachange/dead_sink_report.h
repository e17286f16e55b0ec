#pragma once
// A delivery thread that finds a sink's client gone reports it here; the main thread takes the
// reports at its next poll cycle and lets go of the dead client's objects. A report may name a
// delivery that has ended meanwhile: whoever takes it looks the delivery up and finds nothing.
#include <windows.h>

#include <vector>

// Any thread; `deliveryId` is the group's StreamDelivery::Id().
void ReportDeadSink(DWORD deliveryId);
// Main thread: every delivery reported since the last call, oldest first, each report once.
std::vector<DWORD> TakeDeadSinkReports();
