#pragma once
#include <cstddef>
#include <cstdint>

// One record of the Viewer's shared tag area "Parhelionix Share Memory". Record i describes
// tag i and starts at byte 676 * i; there is no header. Texts are ANSI (code page 936).
struct TagRecord {
    int32_t reserved0;  // the Viewer's
    int32_t typeCode;   // selects the value field, see ValueKindOfTypeCode
    char name[36];
    int32_t discreteValue;
    int32_t integerValue;  // records 8..10 and 13..16 are also the request stamp's source
    float realValue;
    char stringValue[132];
    int32_t writeInhibit;    // 1: client writes to this tag are dropped
    uint8_t reserved1[224];  // the Viewer's
    int32_t requestStatus;   // 0 with every write request
    int32_t requestStamp[7];
    int32_t writeRequest;    // 1: a write request waits for the Viewer, which clears it
    uint8_t reserved2[224];  // the Viewer's
};

static_assert(sizeof(TagRecord) == 676, "tag record layout");
static_assert(offsetof(TagRecord, typeCode) == 4, "tag record layout");
static_assert(offsetof(TagRecord, name) == 8, "tag record layout");
static_assert(offsetof(TagRecord, discreteValue) == 44, "tag record layout");
static_assert(offsetof(TagRecord, integerValue) == 48, "tag record layout");
static_assert(offsetof(TagRecord, realValue) == 52, "tag record layout");
static_assert(offsetof(TagRecord, stringValue) == 56, "tag record layout");
static_assert(offsetof(TagRecord, writeInhibit) == 188, "tag record layout");
static_assert(offsetof(TagRecord, requestStatus) == 416, "tag record layout");
static_assert(offsetof(TagRecord, requestStamp) == 420, "tag record layout");
static_assert(offsetof(TagRecord, writeRequest) == 448, "tag record layout");

constexpr char kSharedTagAreaName[] = "Parhelionix Share Memory";

// Every write request reads records 8..16, so the area always holds at least 17 records.
constexpr int kMinimumTagRecords = 17;

// The records whose integer values form a write request's stamp, in stamp order.
constexpr int kRequestStampSources[7] = {8, 9, 10, 13, 14, 15, 16};

// The mirror's view of a tag's value; a tag whose type code carries no value has kind None.
enum ValueKind : int32_t {
    kValueKindNone = 0,
    kValueKindDiscrete = 1,
    kValueKindInteger = 2,
    kValueKindReal = 3,
    kValueKindString = 4,
};

// Codes 0, 4, 10 discrete; 1, 5, 11 integer; 2, 6, 12 real; 3, 7, 13 string; others none.
constexpr ValueKind ValueKindOfTypeCode(int32_t typeCode)
{
    switch (typeCode) {
    case 0:
    case 4:
    case 10:
        return kValueKindDiscrete;
    case 1:
    case 5:
    case 11:
        return kValueKindInteger;
    case 2:
    case 6:
    case 12:
        return kValueKindReal;
    case 3:
    case 7:
    case 13:
        return kValueKindString;
    default:
        return kValueKindNone;
    }
}
