#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime_link/tag_name_index.h"
#include "runtime_link/tag_record.h"

constexpr int kMirrorSlots = 10000;
constexpr int kMirrorNameUnits = 36;
constexpr int kMirrorStringUnits = 132;  // including the terminator

// The server's own copy of one tag, with texts already in UTF-16. The fields the poll cycle
// reads for every tag come first, so that a number tag costs one cache line of its entry.
struct MirrorEntry {
    int32_t kind;          // ValueKind; kValueKindNone when the tag has no value
    int32_t writePending;  // exactly 1 while value waits to reach the tag record
    // How many bytes of textSource value.text was last converted from (the terminator
    // included, or the whole field when it has none); 0 when value.text was written or
    // overlaid since. A string whose bytes did not change is not converted again.
    uint32_t textSourceBytes;
    // The order number of the client write the entry took last: an older write is not posted
    // over it, so that of several clients' writes the last one made wins.
    uint64_t writeSequence;
    // When the entry took its value (FILETIME ticks, UTC): the time of the poll cycle that found
    // the tag record's value differ, of the build, or of the client write posted into it. A
    // value that stays keeps its time.
    uint64_t valueTime;
    union {
        int32_t integer;  // discrete and integer tags
        float real;
        wchar_t text[kMirrorStringUnits];
        uint8_t bytes[264];
    } value;
    char textSource[sizeof TagRecord::stringValue];  // the string field value.text came from
    wchar_t name[kMirrorNameUnits];
};

// Slot i holds tag i; entries never move once built, so their addresses may be kept.
extern MirrorEntry* g_tagMirror[kMirrorSlots];
// Bounds lookup, browsing and the status view: 10000 before the build, then the tag count.
extern int32_t g_mirrorCount;

// Runs after each poll cycle with the poll period; the OPC side uses it for its update pass.
using AfterPollCycle = void (*)(int32_t pollPeriodMs);
void SetAfterPollCycle(AfterPollCycle hook);

// Builds one entry per tag from the shared tag area (which must be attached), sets the mirror
// count and indexes the names.
void BuildTagMirror();
// For a mirror whose entries were placed by hand (tests, benchmarks): sets the mirror count and
// indexes the names of slots below it.
void IndexTagMirror(int32_t count);
// The index of the mirror's names; rebuilt with the mirror.
const TagNameIndex& TagMirrorIndex();
// Changes whenever the mirror is built, indexed or released: a slot found by name stays the
// slot of that name until then.
uint32_t TagMirrorGeneration();
// Writes pending client values into their tag records with a write request, refreshes every
// other entry from its record, then runs the after-poll hook.
void RunPollCycle();
// Now in UTC as FILETIME ticks, the unit of MirrorEntry::valueTime.
uint64_t UtcTicksNow();
// When the mirror last took the tag records' values (GetTickCount64 of the poll cycle's
// exchange); 0 before the first. A value read from the mirror is at most this old.
unsigned long long MirrorRefreshedAt();
// The slot's entry as its tag record holds it now, into `copy`: for a read that may not wait
// for the next poll cycle, its valueTime the time of this read. The mirror itself is not
// touched; a client value still waiting in the entry is what the tag will hold, so the copy
// keeps it. False while the Viewer is not
// linked, or for a slot without an entry or a record.
bool ReadTagRecordNow(int slot, MirrorEntry& copy);
// Frees every entry, empties the index and sets the mirror count back to kMirrorSlots.
void ReleaseTagMirror();
