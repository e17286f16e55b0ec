#include "opc/datachange/dead_sink_report.h"

#include <mutex>
#include <new>

namespace {

std::mutex g_reportsLock;
std::vector<DWORD> g_reports;

}  // namespace

void ReportDeadSink(DWORD deliveryId)
{
    std::lock_guard<std::mutex> guard(g_reportsLock);
    try {
        g_reports.push_back(deliveryId);
    } catch (const std::bad_alloc&) {
        // The delivery thread has stopped calling the sink anyway; only the reclaim is lost.
    }
}

std::vector<DWORD> TakeDeadSinkReports()
{
    std::vector<DWORD> reports;
    std::lock_guard<std::mutex> guard(g_reportsLock);
    reports.swap(g_reports);
    return reports;
}
