#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime_link/tag_record.h"
#include "viewer/tag_definition.h"

// One write request as the Viewer took it out of a tag record.
struct TakenWriteRequest {
    int index;
    std::string name;  // ANSI
    int32_t typeCode;
    std::string value;  // ANSI, as ValueText shows it
    int32_t status;
    int32_t stamp[7];
};

// The stand-in Viewer's work on its shared tag area: fills the records from the project's tag
// definitions, takes the write requests the server posts, and changes values step by step.
class TagSimulator {
public:
    // A written tag keeps the client's value for this many steps before simulation resumes.
    static constexpr int kWriteHoldSteps = 5;

    explicit TagSimulator(std::vector<TagDefinition> tags);

    // Records for the area: max(tag count, 17) of them.
    int RecordCount() const;
    // Writes all RecordCount() records: tag i from definition i, the rest zero.
    void Fill(TagRecord* area) const;
    // Takes every record whose write-request flag is 1: clears the flag, holds the tag's
    // simulation and returns the request. The value was already written in place.
    std::vector<TakenWriteRequest> TakeWriteRequests(TagRecord* area);
    // One simulation step; the clock modes take their parts from now.
    void Step(TagRecord* area, const SYSTEMTIME& now);

private:
    std::vector<TagDefinition> m_tags;
    std::vector<int> m_holdSteps;
    int32_t m_steps = 0;
};
