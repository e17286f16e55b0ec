#include "opc/datachange/dead_sink_report.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<DWORD, int>> g_heard;

void Hear(DWORD deliveryId, int connection)
{
    g_heard.emplace_back(deliveryId, connection);
}

TEST(DeadSinkReport, ReportsFromADeliveryThreadReachTheMainThreadOnceInOrder)
{
    g_heard.clear();
    SetDeadSinkHandler(Hear);
    std::thread delivery([] {
        ReportDeadSink(7, 1);
        ReportDeadSink(9, 0);
    });
    delivery.join();
    EXPECT_TRUE(g_heard.empty()) << "nothing is heard before the main thread asks";
    DispatchDeadSinkReports();
    EXPECT_EQ((std::vector<std::pair<DWORD, int>>{{7, 1}, {9, 0}}), g_heard);
    DispatchDeadSinkReports();
    EXPECT_EQ(2u, g_heard.size()) << "each report is heard once";

    SetDeadSinkHandler(nullptr);
    ReportDeadSink(11, 2);
    DispatchDeadSinkReports();
    SetDeadSinkHandler(Hear);
    DispatchDeadSinkReports();
    EXPECT_EQ(2u, g_heard.size()) << "without a handler the reports are dropped";
    SetDeadSinkHandler(nullptr);
}

}  // namespace
