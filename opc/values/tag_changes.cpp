#include "opc/values/tag_changes.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "opc/values/item_value.h"

uint64_t g_tagChangeNumbers[kMirrorSlots];

namespace {

// What a slot's entry held at the last look: all that its items' values are made of.
struct SeenValue {
    int32_t kind;
    uint32_t textUnits;
    union {
        int32_t integer;
        wchar_t text[kMirrorTextUnits];
    };
};

// What no entry's kind is: a slot whose copy holds it is found changed by the next look.
constexpr int32_t kNotAKind = -1;

std::unique_ptr<SeenValue[]> g_seen;
uint32_t g_seenGeneration = 0;  // the mirror the copies are of; never a generation
uint64_t g_lastNumber = kTagChangeNotSeen;
int g_looksOpen = 0;

void MoveNumber(int slot)
{
    g_tagChangeNumbers[slot] = ++g_lastNumber;
}

// Whether `seen` still is the entry's value; makes it so when not.
bool StillSeen(const MirrorEntry* entry, SeenValue& seen)
{
    const int32_t kind = entry ? entry->kind : kValueKindNone;
    if (kind == kValueKindString) {
        const auto units = static_cast<uint32_t>(wcsnlen(entry->value.text, kMirrorTextUnits));
        if (seen.kind == kind && seen.textUnits == units &&
            std::wmemcmp(seen.text, entry->value.text, units) == 0) {
            return true;
        }
        seen.kind = kind;
        seen.textUnits = units;
        std::wmemcpy(seen.text, entry->value.text, units);
        return false;
    }
    const int32_t word = entry ? entry->value.integer : 0;
    if (seen.kind == kind && seen.integer == word) return true;
    seen.kind = kind;
    seen.integer = word;
    return false;
}

void LookAtEveryTag()
{
    if (!g_seen) g_seen.reset(new (std::nothrow) SeenValue[kMirrorSlots]());
    const bool rebuilt = g_seenGeneration != TagMirrorGeneration();
    g_seenGeneration = TagMirrorGeneration();
    for (int slot = 0; slot < kMirrorSlots; ++slot) {
        if (!g_seen) {
            MoveNumber(slot);
            continue;
        }
        const bool same = StillSeen(g_tagMirror[slot], g_seen[slot]);
        if (rebuilt || !same) MoveNumber(slot);
    }
}

}  // namespace

uint64_t LastTagChange()
{
    return g_lastNumber;
}

void NoteTagWritten(int slot)
{
    MoveNumber(slot);
    // The Viewer may put back the value last seen before the next look: that is a change too.
    if (g_seen) g_seen[slot].kind = kNotAKind;
}

TagChangeLook::TagChangeLook()
{
    if (g_looksOpen++ == 0) LookAtEveryTag();
}

TagChangeLook::~TagChangeLook()
{
    --g_looksOpen;
}
