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

void RefreshValue(MirrorEntry& entry, const TagRecord& record)
{
    switch (ValueKindOfTypeCode(record.typeCode)) {
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
        AnsiFieldToWide(record.stringValue, sizeof record.stringValue, entry.value.text,
                        kMirrorStringUnits);
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
        if (record.writeInhibit == 1) continue;  // dropped; refreshed in the next cycle
        WriteValue(*entry, record);
        PostWriteRequest(record);
    }
}

void DropPendingWrites()
{
    for (int i = 0; i < g_mirrorCount && i < kMirrorSlots; ++i) {
        if (g_tagMirror[i]) g_tagMirror[i]->writePending = 0;
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
    g_tagNameIndex.Build();
}

void IndexTagMirror(int32_t count)
{
    g_mirrorCount = count;
    g_tagNameIndex.Build();
}

const TagNameIndex& TagMirrorIndex()
{
    return g_tagNameIndex;
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
    g_mirrorCount = kMirrorSlots;
}
