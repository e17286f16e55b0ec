#include "opc/datachange/dead_sink_report.h"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

struct DeadSink {
    DWORD deliveryId;
    int connection;
};

DeadSinkHandler g_handler = nullptr;
std::mutex g_reportsLock;
std::vector<DeadSink> g_reports;

}  // namespace

void SetDeadSinkHandler(DeadSinkHandler handler)
{
    g_handler = handler;
}

void ReportDeadSink(DWORD deliveryId, int connection)
{
    std::lock_guard<std::mutex> guard(g_reportsLock);
    try {
        g_reports.push_back(DeadSink{deliveryId, connection});
    } catch (const std::bad_alloc&) {
        // The delivery thread has stopped calling the sink anyway; only the reclaim is lost.
    }
}

void DispatchDeadSinkReports()
{
    std::vector<DeadSink> reports;
    {
        std::lock_guard<std::mutex> guard(g_reportsLock);
        reports.swap(g_reports);
    }
    if (!g_handler) return;
    for (const DeadSink& report : reports) g_handler(report.deliveryId, report.connection);
}
