#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime_link/project_files.h"
#include "runtime_link/tag_record.h"

// TAGNAME.DB, the project's tag database, as the demo project tool writes it and the stand-in
// Viewer reads it (the real file belongs to the package's development system; the server reads
// only its header and count):
//
//   offset 0    20 bytes   file header: "Parhelionix V7.11" and three NULs; a reader compares
//                          only its first 12 bytes, "Parhelionix "
//   offset 20   int32      tag count, 0..10000
//   offset 24   count x TagDefinition (180 bytes each); definition i describes tag i
//
// Words are little-endian; texts are ANSI (code page 936), NUL-terminated within their field.
// Bytes after the last definition are ignored.

// How the stand-in Viewer changes a tag's value on each step. A mode that does not fit the
// tag's value kind leaves the value alone.
enum TagSimulation : int32_t {
    kSimulationNone = 0,         // keeps its initial value
    kSimulationRamp = 1,         // integer +1, real +0.5 a step; back to 0 once past 100
    kSimulationToggle = 2,       // discrete and integer: 0, 1, 0, ...
    kSimulationTextCounter = 3,  // string: the initial text followed by the step number
    kSimulationClockYear = 4,    // integer: that part of the local time (the request
    kSimulationClockMonth = 5,   // stamp is made of records 8..10 and 13..16, so a
    kSimulationClockDay = 6,     // project gives those the date and time parts)
    kSimulationClockHour = 7,
    kSimulationClockMinute = 8,
    kSimulationClockSecond = 9,
    kSimulationClockMillisecond = 10,
};
constexpr int32_t kLastSimulation = kSimulationClockMillisecond;

struct TagDefinition {
    char name[36];           // the tag record's name
    int32_t typeCode;        // the tag record's type code, any value (0..13 known)
    int32_t writeInhibit;    // copied into the tag record's write-inhibit flag
    int32_t simulation;      // TagSimulation
    char initialValue[132];  // as text: "0"/"1", "-12", "3.5", or the string value
};

static_assert(sizeof(TagDefinition) == 180, "tag definition layout");
static_assert(sizeof(TagDefinition::name) == sizeof(TagRecord::name), "name width");
static_assert(sizeof(TagDefinition::initialValue) == sizeof(TagRecord::stringValue),
              "initial value width");

constexpr char kTagDatabaseFileName[] = "TAGNAME.DB";
constexpr int kTagCountOffset = kHeaderSize;
constexpr int kFirstTagDefinitionOffset = kHeaderSize + 4;

// The header every project file starts with, and how much of it a reader compares.
constexpr char kProjectFileHeader[kHeaderSize] = "Parhelionix V7.11";
constexpr size_t kProjectFileHeaderMatch = 12;
