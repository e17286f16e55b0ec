#include "runtime_link/tag_mirror.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "diagnostics/support_trace.h"
#include "diagnostics/trace_throttle.h"
#include "runtime_link/ansi_text.h"
#include "runtime_link/project_files.h"
#include "runtime_link/shared_tag_area.h"
#include "runtime_link/viewer_link.h"

MirrorEntry* g_tagMirror[kMirrorSlots];
int32_t g_mirrorCount = kMirrorSlots;

namespace {

// A run of slow poll cycles (a busy machine, a frozen debugger) is traced at most this often.
constexpr ULONGLONG kSlowCycleTraceEveryMs = 10000;

AfterPollCycle g_afterPollCycle = nullptr;
TagNameIndex g_tagNameIndex;
uint32_t g_mirrorGeneration = 1;
ULONGLONG g_mirrorRefreshedAt = 0;

void IndexNames()
{
    g_tagNameIndex.Build();
    ++g_mirrorGeneration;
}

// Whether the first count bytes of a and b are the same. Inlined word by word, the last word
// overlapping the one before: most strings are a few words long, less than a library call
// costs, and their lengths vary too much for a loop over the last bytes to be predicted.
bool SameBytes(const char* a, const char* b, size_t count)
{
    const auto word = [](const char* bytes) {
        uint64_t value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    };
    if (count < sizeof(uint64_t)) return std::memcmp(a, b, count) == 0;
    for (size_t i = 0; i + sizeof(uint64_t) < count; i += sizeof(uint64_t)) {
        if (word(a + i) != word(b + i)) return false;
    }
    const size_t last = count - sizeof(uint64_t);
    return word(a + last) == word(b + last);
}

// Stores only a value that differs: most tags keep theirs from one cycle to the next, and an
// entry left clean is not written back to memory. Compared bit for bit, so that 0.0 and -0.0
// are told apart.
template <typename Field>
bool KeepValue(Field& field, Field value)
{
    if (std::memcmp(&field, &value, sizeof field) == 0) return false;
    field = value;
    return true;
}

// Converting a string costs many times what comparing it does, and most strings stay the same
// from one cycle to the next. The field is copied before it is converted, so that a Viewer
// changing it meanwhile cannot leave a text that does not match the bytes remembered.
// Returns whether the text changed: bytes converted anew after a client's text may give the
// same text again.
[[gnu::noinline]] bool RefreshText(MirrorEntry& entry, const TagRecord& record)
{
    const uint32_t known = entry.textSourceBytes;
    if (known != 0 && SameBytes(entry.textSource, record.stringValue, known)) return false;
    std::memcpy(entry.textSource, record.stringValue, sizeof entry.textSource);
    const size_t length = strnlen(entry.textSource, sizeof entry.textSource);
    wchar_t text[kMirrorStringUnits];
    AnsiFieldToWide(entry.textSource, length, text, kMirrorStringUnits);
    entry.textSourceBytes = static_cast<uint32_t>(std::min(length + 1, sizeof entry.textSource));
    const size_t units = wcsnlen(text, kMirrorStringUnits - 1) + 1;
    if (std::wmemcmp(text, entry.value.text, units) == 0) return false;
    std::wmemcpy(entry.value.text, text, units);
    return true;
}

// Inlined into the poll cycle's loop: a call per tag is a good share of a number tag's cost.
// A value that differs takes `time`.
[[gnu::always_inline]] inline void RefreshValue(MirrorEntry& entry, const TagRecord& record,
                                                uint64_t time)
{
    const ValueKind kind = ValueKindOfTypeCode(record.typeCode);
    // Any other value overlays the text.
    if (kind != kValueKindString && kind != kValueKindNone && entry.textSourceBytes != 0) {
        entry.textSourceBytes = 0;
    }
    bool changed = false;
    switch (kind) {
    case kValueKindDiscrete:
        changed = KeepValue(entry.value.integer, record.discreteValue);
        break;
    case kValueKindInteger:
        changed = KeepValue(entry.value.integer, record.integerValue);
        break;
    case kValueKindReal:
        changed = KeepValue(entry.value.real, record.realValue);
        break;
    case kValueKindString:
        changed = RefreshText(entry, record);
        break;
    case kValueKindNone:
        break;
    }
    if (changed) entry.valueTime = time;
}

void WriteValue(const MirrorEntry& entry, TagRecord& record)
{
    switch (ValueKindOfTypeCode(record.typeCode)) {
    case kValueKindDiscrete:
        record.discreteValue = entry.value.integer;
        break;
    case kValueKindInteger:
        record.integerValue = entry.value.integer;
        break;
    case kValueKindReal:
        record.realValue = entry.value.real;
        break;
    case kValueKindString:
        WideToAnsiField(entry.value.text, kMirrorStringUnits, record.stringValue,
                        sizeof record.stringValue);
        break;
    case kValueKindNone:
        break;
    }
}

// The Viewer reads the stamp to tell requests apart; records the area lacks read as 0.
void PostWriteRequest(TagRecord& record)
{
    record.requestStatus = 0;
    for (int i = 0; i < 7; ++i) {
        const int source = kRequestStampSources[i];
        record.requestStamp[i] =
            source < g_sharedTagRecordCapacity ? g_sharedTagArea[source].integerValue : 0;
    }
    record.writeRequest = 1;
}

// The client's value goes into its record with a write request, unless the tag is
// write-inhibited. Either way the client's text gives way: the next refresh converts the
// record's string again whether its bytes changed or not.
[[gnu::noinline]] void PostClientValue(MirrorEntry& entry, TagRecord& record)
{
    entry.writePending = 0;
    entry.textSourceBytes = 0;
    if (record.writeInhibit == 1) return;  // dropped; refreshed in the next cycle
    WriteValue(entry, record);
    PostWriteRequest(record);
}

// Pending client values go into their records with a write request; every other entry is
// refreshed from its record. Records beyond the attached area (a Viewer come back with a smaller
// one) are not touched.
void ExchangeWithTagRecords()
{
    const uint64_t cycleTime = UtcTicksNow();
    const int count = std::min({g_tagCount, g_mirrorCount, g_sharedTagRecordCapacity});
    TagRecord* const records = g_sharedTagArea;
    for (int i = 0; i < count; ++i) {
        MirrorEntry* entry = g_tagMirror[i];
        if (!entry) continue;
        if (entry->writePending == 1) {
            PostClientValue(*entry, records[i]);
        } else {
            RefreshValue(*entry, records[i], cycleTime);
        }
    }
}

void DropPendingWrites()
{
    for (int i = 0; i < g_mirrorCount && i < kMirrorSlots; ++i) {
        if (!g_tagMirror[i]) continue;
        g_tagMirror[i]->writePending = 0;
        g_tagMirror[i]->textSourceBytes = 0;  // the dropped text gives way to the record's
    }
}

}  // namespace

void SetAfterPollCycle(AfterPollCycle hook)
{
    g_afterPollCycle = hook;
}

void BuildTagMirror()
{
    // The poll cycle walks the tag records up to the tag count: never beyond the area.
    if (g_tagCount > g_sharedTagRecordCapacity) g_tagCount = g_sharedTagRecordCapacity;
    if (!g_sharedTagArea) g_tagCount = 0;
    g_mirrorCount = g_tagCount;
    const uint64_t buildTime = UtcTicksNow();
    for (int i = 0; i < kMirrorSlots; ++i) {
        delete g_tagMirror[i];
        g_tagMirror[i] = nullptr;
        if (i >= g_tagCount) continue;
        const TagRecord& record = g_sharedTagArea[i];
        auto* entry = new MirrorEntry{};
        AnsiFieldToWide(record.name, sizeof record.name, entry->name, kMirrorNameUnits);
        entry->writePending = 0;
        entry->kind = ValueKindOfTypeCode(record.typeCode);
        entry->valueTime = buildTime;
        RefreshValue(*entry, record, buildTime);
        g_tagMirror[i] = entry;
    }
    g_mirrorRefreshedAt = GetTickCount64();
    IndexNames();
}

void IndexTagMirror(int32_t count)
{
    g_mirrorCount = count;
    IndexNames();
}

const TagNameIndex& TagMirrorIndex()
{
    return g_tagNameIndex;
}

uint32_t TagMirrorGeneration()
{
    return g_mirrorGeneration;
}

void RunPollCycle()
{
    const ULONGLONG start = GetTickCount64();
    CheckViewerLink();
    if (ViewerLinked()) {
        ExchangeWithTagRecords();
        g_mirrorRefreshedAt = start;
    } else {
        // Nobody takes them while the Viewer is gone, and posting them to a later Viewer
        // could overwrite newer values with stale ones.
        DropPendingWrites();
    }
    if (g_afterPollCycle) g_afterPollCycle(PollPeriod());
    const ULONGLONG end = GetTickCount64();
    static TraceThrottle slowCycles(kSlowCycleTraceEveryMs);
    unsigned skipped = 0;
    if (end - start > static_cast<ULONGLONG>(PollPeriod()) && slowCycles.Due(end, skipped)) {
        SUPPORT_TRACE(TraceClient{}, S_OK,
                      "poll cycle took %llu ms, longer than its period of %ld ms (%u more slow "
                      "cycles since the last line)",
                      end - start, static_cast<long>(PollPeriod()), skipped);
    }
}

uint64_t UtcTicksNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

unsigned long long MirrorRefreshedAt()
{
    return g_mirrorRefreshedAt;
}

bool ReadTagRecordNow(int slot, MirrorEntry& copy)
{
    const int count = std::min({g_tagCount, g_mirrorCount, g_sharedTagRecordCapacity});
    if (!ViewerLinked() || slot < 0 || slot >= count || !g_tagMirror[slot]) return false;
    copy = *g_tagMirror[slot];
    copy.valueTime = UtcTicksNow();
    if (copy.writePending != 1) RefreshValue(copy, g_sharedTagArea[slot], copy.valueTime);
    return true;
}

void ReleaseTagMirror()
{
    for (MirrorEntry*& entry : g_tagMirror) {
        delete entry;
        entry = nullptr;
    }
    g_tagNameIndex.Clear();
    ++g_mirrorGeneration;
    g_mirrorRefreshedAt = 0;
    g_mirrorCount = kMirrorSlots;
}
