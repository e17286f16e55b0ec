#pragma once
// A delivery thread that finds a sink's client gone reports it here; the main thread hears of
// it at its next poll cycle through the handler, so that it can let go of the dead client's
// objects. Reports of deliveries that ended meanwhile still reach the handler: it looks the
// delivery up and finds nothing.
#include <windows.h>

// `deliveryId` is the group's StreamDelivery::Id(), `connection` the sink's slot.
using DeadSinkHandler = void (*)(DWORD deliveryId, int connection);

// Main thread; null (the default) drops the reports.
void SetDeadSinkHandler(DeadSinkHandler handler);
// Any thread.
void ReportDeadSink(DWORD deliveryId, int connection);
// Main thread: hands every report made since the last call to the handler, oldest first.
void DispatchDeadSinkReports();
