#include "viewer/tag_simulator.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "runtime_link/ansi_text.h"
#include "viewer/tag_value.h"

namespace {

constexpr float kRampTop = 100.0f;

int32_t ClockPart(int32_t simulation, const SYSTEMTIME& now)
{
    switch (simulation) {
    case kSimulationClockYear:
        return now.wYear;
    case kSimulationClockMonth:
        return now.wMonth;
    case kSimulationClockDay:
        return now.wDay;
    case kSimulationClockHour:
        return now.wHour;
    case kSimulationClockMinute:
        return now.wMinute;
    case kSimulationClockSecond:
        return now.wSecond;
    default:
        return now.wMilliseconds;
    }
}

void StepInteger(int32_t& value, int32_t simulation, const SYSTEMTIME& now)
{
    if (simulation == kSimulationRamp)
        value = value >= int32_t(kRampTop) ? 0 : value + 1;
    else if (simulation == kSimulationToggle)
        value = value ? 0 : 1;
    else if (simulation >= kSimulationClockYear)
        value = ClockPart(simulation, now);
}

}  // namespace

TagSimulator::TagSimulator(std::vector<TagDefinition> tags)
    : m_tags(std::move(tags)), m_holdSteps(m_tags.size(), 0)
{
}

int TagSimulator::RecordCount() const
{
    return std::max(int(m_tags.size()), kMinimumTagRecords);
}

void TagSimulator::Fill(TagRecord* area) const
{
    std::memset(static_cast<void*>(area), 0, size_t(RecordCount()) * sizeof(TagRecord));
    for (size_t i = 0; i < m_tags.size(); ++i) {
        const TagDefinition& tag = m_tags[i];
        TagRecord& record = area[i];
        record.typeCode = tag.typeCode;
        std::memcpy(record.name, tag.name, sizeof record.name);
        record.writeInhibit = tag.writeInhibit;
        // The definitions were checked when the tag database was read.
        SetInitialValue(record, tag);
    }
}

std::vector<TakenWriteRequest> TagSimulator::TakeWriteRequests(TagRecord* area)
{
    std::vector<TakenWriteRequest> taken;
    for (int i = 0; i < RecordCount(); ++i) {
        TagRecord& record = area[i];
        if (record.writeRequest != 1) continue;
        TakenWriteRequest request{i,
                                  AnsiFieldText(record.name, sizeof record.name),
                                  record.typeCode,
                                  ValueText(record),
                                  record.requestStatus,
                                  {}};
        std::copy(std::begin(record.requestStamp), std::end(record.requestStamp), request.stamp);
        record.writeRequest = 0;
        if (size_t(i) < m_holdSteps.size()) m_holdSteps[size_t(i)] = kWriteHoldSteps;
        taken.push_back(std::move(request));
    }
    return taken;
}

void TagSimulator::Step(TagRecord* area, const SYSTEMTIME& now)
{
    ++m_steps;
    for (size_t i = 0; i < m_tags.size(); ++i) {
        if (m_holdSteps[i] > 0) {
            --m_holdSteps[i];
            continue;
        }
        const int32_t simulation = m_tags[i].simulation;
        TagRecord& record = area[i];
        switch (ValueKindOfTypeCode(record.typeCode)) {
        case kValueKindDiscrete:
            if (simulation == kSimulationToggle)
                record.discreteValue = record.discreteValue ? 0 : 1;
            break;
        case kValueKindInteger:
            StepInteger(record.integerValue, simulation, now);
            break;
        case kValueKindReal:
            if (simulation == kSimulationRamp)
                record.realValue = record.realValue >= kRampTop ? 0.0f : record.realValue + 0.5f;
            break;
        case kValueKindString:
            if (simulation == kSimulationTextCounter) {
                CopyAnsiField(record.stringValue, sizeof record.stringValue,
                              AnsiFieldText(m_tags[i].initialValue, sizeof m_tags[i].initialValue) +
                                  std::to_string(m_steps));
            }
            break;
        case kValueKindNone:
            break;
        }
    }
}
