#include "runtime_link/tag_mirror.h"

#include <algorithm>
#include <cstring>

#include "runtime_link/ansi_text.h"
#include "runtime_link/project_files.h"
#include "runtime_link/shared_tag_area.h"
#include "runtime_link/viewer_link.h"

MirrorEntry* g_tagMirror[kMirrorSlots];
int32_t g_mirrorCount = kMirrorSlots;

namespace {

AfterPollCycle g_afterPollCycle = nullptr;
TagNameIndex g_tagNameIndex;
uint32_t g_mirrorGeneration = 1;

void IndexNames()
{
    g_tagNameIndex.Build();
    ++g_mirrorGeneration;
}

// Converting a string costs many times what comparing it does, and most strings stay the same
// from one cycle to the next. The field is copied before it is converted, so that a Viewer
// changing it meanwhile cannot leave a text that does not match the bytes remembered.
void RefreshText(MirrorEntry& entry, const TagRecord& record)
{
    const uint32_t known = entry.textSourceBytes;
    if (known != 0 && std::memcmp(entry.textSource, record.stringValue, known) == 0) return;
    std::memcpy(entry.textSource, record.stringValue, sizeof entry.textSource);
    const size_t length = strnlen(entry.textSource, sizeof entry.textSource);
    AnsiFieldToWide(entry.textSource, length, entry.value.text, kMirrorStringUnits);
    entry.textSourceBytes = static_cast<uint32_t>(std::min(length + 1, sizeof entry.textSource));
}

void RefreshValue(MirrorEntry& entry, const TagRecord& record)
{
    const ValueKind kind = ValueKindOfTypeCode(record.typeCode);
    // Any other value overlays the text.
    if (kind != kValueKindString && kind != kValueKindNone) entry.textSourceBytes = 0;
    switch (kind) {
    case kValueKindDiscrete:
        entry.value.integer = record.discreteValue;
        break;
    case kValueKindInteger:
        entry.value.integer = record.integerValue;
        break;
    case kValueKindReal:
        entry.value.real = record.realValue;
        break;
    case kValueKindString:
        RefreshText(entry, record);
        break;
    case kValueKindNone:
        break;
    }
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

// Pending client values go into their records with a write request; every other entry is
// refreshed from its record. Records beyond the attached area (a Viewer come back with a smaller
// one) are not touched.
void ExchangeWithTagRecords()
{
    const int count = std::min({g_tagCount, g_mirrorCount, g_sharedTagRecordCapacity});
    for (int i = 0; i < count; ++i) {
        MirrorEntry* entry = g_tagMirror[i];
        if (!entry) continue;
        TagRecord& record = g_sharedTagArea[i];
        if (entry->writePending != 1) {
            RefreshValue(*entry, record);
            continue;
        }
        entry->writePending = 0;
        // The client's text goes into the record (or is dropped): the next refresh converts
        // the record's string again whether its bytes changed or not.
        entry->textSourceBytes = 0;
        if (record.writeInhibit == 1) continue;  // dropped; refreshed in the next cycle
        WriteValue(*entry, record);
        PostWriteRequest(record);
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
    for (int i = 0; i < kMirrorSlots; ++i) {
        delete g_tagMirror[i];
        g_tagMirror[i] = nullptr;
        if (i >= g_tagCount) continue;
        const TagRecord& record = g_sharedTagArea[i];
        auto* entry = new MirrorEntry{};
        AnsiFieldToWide(record.name, sizeof record.name, entry->name, kMirrorNameUnits);
        entry->writePending = 0;
        entry->kind = ValueKindOfTypeCode(record.typeCode);
        RefreshValue(*entry, record);
        g_tagMirror[i] = entry;
    }
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
    CheckViewerLink();
    if (ViewerLinked()) {
        ExchangeWithTagRecords();
    } else {
        // Nobody takes them while the Viewer is gone, and posting them to a later Viewer
        // could overwrite newer values with stale ones.
        DropPendingWrites();
    }
    if (g_afterPollCycle) g_afterPollCycle(PollPeriod());
}

void ReleaseTagMirror()
{
    for (MirrorEntry*& entry : g_tagMirror) {
        delete entry;
        entry = nullptr;
    }
    g_tagNameIndex.Clear();
    ++g_mirrorGeneration;
    g_mirrorCount = kMirrorSlots;
}
