#include "viewer/tag_simulator.h"

#include <gtest/gtest.h>

#include <cstring>

#include "runtime_link/ansi_text.h"
#include "viewer/tag_database.h"
#include "viewer/tag_value.h"

namespace {

const SYSTEMTIME kNow = {2026, 12, 1, 7, 21, 40, 1, 123};

struct Area {
    explicit Area(const std::vector<TagDefinition>& tags)
        : simulator(tags), records(size_t(simulator.RecordCount()))
    {
        simulator.Fill(records.data());
    }
    void Step(int steps = 1)
    {
        for (int i = 0; i < steps; ++i) simulator.Step(records.data(), kNow);
    }
    TagSimulator simulator;
    std::vector<TagRecord> records;
};

std::string Text(const char* field)
{
    return AnsiFieldText(field, 132);
}

TEST(TagSimulator, EveryTypeCodeFillsOnlyItsValueField)
{
    struct Case {
        int32_t typeCode;
        const char* initial;
        int32_t discrete, integer;
        float real;
        const char* text;
    } cases[] = {
        {0, "1", 1, 0, 0, ""},       {1, "-7", 0, -7, 0, ""},     {2, "2.5", 0, 0, 2.5f, ""},
        {3, "abc", 0, 0, 0, "abc"},  {4, "1", 1, 0, 0, ""},       {5, "7", 0, 7, 0, ""},
        {6, "2.5", 0, 0, 2.5f, ""},  {7, "abc", 0, 0, 0, "abc"},  {8, "7", 0, 0, 0, ""},
        {9, "7", 0, 0, 0, ""},       {10, "1", 1, 0, 0, ""},      {11, "7", 0, 7, 0, ""},
        {12, "2.5", 0, 0, 2.5f, ""}, {13, "abc", 0, 0, 0, "abc"}, {14, "7", 0, 0, 0, ""},
        {-1, "7", 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        Area area({MakeTagDefinition("T", c.typeCode, 1, kSimulationNone, c.initial)});
        const TagRecord& record = area.records[0];
        EXPECT_EQ(c.typeCode, record.typeCode);
        EXPECT_EQ(c.discrete, record.discreteValue) << c.typeCode;
        EXPECT_EQ(c.integer, record.integerValue) << c.typeCode;
        EXPECT_EQ(c.real, record.realValue) << c.typeCode;
        EXPECT_EQ(c.text, Text(record.stringValue)) << c.typeCode;
        EXPECT_EQ(1, record.writeInhibit);
        EXPECT_EQ("T", AnsiFieldText(record.name, 36));
    }
}

TEST(TagSimulator, AreaHoldsAtLeastSeventeenRecordsAndPaddingIsZero)
{
    std::vector<TagDefinition> three(3, MakeTagDefinition("T", 1, 0, kSimulationNone, "5"));
    TagSimulator simulator(three);
    ASSERT_EQ(17, simulator.RecordCount());
    std::vector<TagRecord> records(17);
    std::memset(static_cast<void*>(records.data()), 0xAB, records.size() * sizeof(TagRecord));
    simulator.Fill(records.data());
    EXPECT_EQ(5, records[2].integerValue);
    const TagRecord zero{};
    for (size_t i = 3; i < records.size(); ++i)
        EXPECT_EQ(0, std::memcmp(&zero, &records[i], sizeof zero)) << i;
    EXPECT_EQ(40, TagSimulator(std::vector<TagDefinition>(40, three[0])).RecordCount());
}

TEST(TagSimulator, EachModeChangesTheValueOfItsKind)
{
    struct Case {
        const char* what;
        int32_t typeCode;
        TagSimulation simulation;
        const char* initial;
        const char* afterOne;
        const char* afterTwo;
    } cases[] = {
        {"integer ramp", 1, kSimulationRamp, "0", "1", "2"},
        {"integer ramp wraps", 5, kSimulationRamp, "100", "0", "1"},
        {"real ramp", 2, kSimulationRamp, "20.5", "21", "21.5"},
        {"real ramp wraps", 12, kSimulationRamp, "100", "0", "0.5"},
        {"discrete toggle", 0, kSimulationToggle, "0", "1", "0"},
        {"integer toggle", 11, kSimulationToggle, "5", "0", "1"},
        {"text counter", 13, kSimulationTextCounter, "Batch ", "Batch 1", "Batch 2"},
        {"year", 1, kSimulationClockYear, "0", "2026", "2026"},
        {"month", 1, kSimulationClockMonth, "0", "12", "12"},
        {"day", 1, kSimulationClockDay, "0", "7", "7"},
        {"hour", 1, kSimulationClockHour, "0", "21", "21"},
        {"minute", 1, kSimulationClockMinute, "0", "40", "40"},
        {"second", 1, kSimulationClockSecond, "0", "1", "1"},
        {"millisecond", 1, kSimulationClockMillisecond, "0", "123", "123"},
        {"no simulation", 1, kSimulationNone, "9", "9", "9"},
        {"ramp on a string", 3, kSimulationRamp, "s", "s", "s"},
        {"toggle on a real", 2, kSimulationToggle, "1.5", "1.5", "1.5"},
        {"counter on an integer", 1, kSimulationTextCounter, "4", "4", "4"},
        {"clock on a discrete", 0, kSimulationClockYear, "1", "1", "1"},
    };
    for (const Case& c : cases) {
        Area area({MakeTagDefinition("T", c.typeCode, 0, c.simulation, c.initial)});
        area.Step();
        EXPECT_EQ(c.afterOne, ValueText(area.records[0])) << c.what;
        area.Step();
        EXPECT_EQ(c.afterTwo, ValueText(area.records[0])) << c.what;
    }
}

TEST(TagSimulator, CodeWithoutValueKeepsEveryValueFieldUntouched)
{
    for (int32_t code : {8, 9, 14, -1}) {
        Area area({MakeTagDefinition("T", code, 0, kSimulationRamp, "")});
        area.Step(3);
        const TagRecord zero{};
        EXPECT_EQ(0, std::memcmp(&zero.discreteValue, &area.records[0].discreteValue, 144)) << code;
    }
}

// Posts a request as the server does: value in place, status 0, stamp, then the flag.
void PostWrite(TagRecord& record, int32_t integer, int32_t flag = 1)
{
    record.integerValue = integer;
    record.requestStatus = 0;
    for (int i = 0; i < 7; ++i) record.requestStamp[i] = i + 1;
    record.writeRequest = flag;
}

TEST(TagSimulator, WriteRequestIsTakenClearedAndHoldsTheValue)
{
    Area area({MakeTagDefinition("Counter", 1, 0, kSimulationRamp, "0")});
    PostWrite(area.records[0], 50);
    std::vector<TakenWriteRequest> taken = area.simulator.TakeWriteRequests(area.records.data());
    ASSERT_EQ(1u, taken.size());
    EXPECT_EQ(0, taken[0].index);
    EXPECT_EQ("Counter", taken[0].name);
    EXPECT_EQ(1, taken[0].typeCode);
    EXPECT_EQ("50", taken[0].value);
    EXPECT_EQ(0, taken[0].status);
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}),
              std::vector<int32_t>(std::begin(taken[0].stamp), std::end(taken[0].stamp)));
    EXPECT_EQ(0, area.records[0].writeRequest);
    EXPECT_TRUE(area.simulator.TakeWriteRequests(area.records.data()).empty());

    area.Step(TagSimulator::kWriteHoldSteps);
    EXPECT_EQ(50, area.records[0].integerValue);
    area.Step();
    EXPECT_EQ(51, area.records[0].integerValue);
}

TEST(TagSimulator, OnlyAFlagOfOneIsARequest)
{
    Area area({MakeTagDefinition("A", 1, 0, kSimulationNone, "0"),
               MakeTagDefinition("B", 1, 0, kSimulationNone, "0")});
    PostWrite(area.records[0], 3, 2);
    PostWrite(area.records[1], 3, -1);
    EXPECT_TRUE(area.simulator.TakeWriteRequests(area.records.data()).empty());
    EXPECT_EQ(2, area.records[0].writeRequest);
    EXPECT_EQ(-1, area.records[1].writeRequest);
}

TEST(TagSimulator, RequestsOnTagsWithoutValueAndOnPaddingAreTakenToo)
{
    Area area({MakeTagDefinition("Event", 8, 0, kSimulationNone, "")});
    PostWrite(area.records[0], 0);
    area.records[0].integerValue = 0;
    PostWrite(area.records[16], 0);
    std::vector<TakenWriteRequest> taken = area.simulator.TakeWriteRequests(area.records.data());
    ASSERT_EQ(2u, taken.size());
    EXPECT_EQ("-", taken[0].value);
    EXPECT_EQ(16, taken[1].index);
    EXPECT_EQ(0, area.records[16].writeRequest);
}

}  // namespace
