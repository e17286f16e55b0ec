#pragma once
// The tags' changes as the update passes see them. Each mirror slot has a change number that
// moves whenever its entry's kind or value is found to differ from the last look, and when an
// item posts a client value into it; the numbers of all slots move when the mirror is built
// anew. An item that took its value at a slot's number holds the entry's value for as long as
// that number stays, and its refresh may be skipped.
#include <cstdint>

#include "runtime_link/tag_mirror.h"

// No slot ever has this number: an item that holds it has not yet compared its value.
constexpr uint64_t kTagChangeNotSeen = 0;

// Numbers only grow: a slot changed after a number was the newest has a greater one. 64 bits,
// as 10000 tags changing every 55 ms would wrap 32 bits within hours.
extern uint64_t g_tagChangeNumbers[kMirrorSlots];

inline uint64_t TagChangeNumber(int slot)
{
    return g_tagChangeNumbers[slot];
}

// The newest number of any slot: it moves with every change of any tag.
uint64_t LastTagChange();

// An item posted a client value into the slot's entry.
void NoteTagWritten(int slot);

// Looks at every mirror entry once for all the update passes made while it lives: the update
// of all servers holds one, so that its passes share one look; a pass made on its own looks
// for itself. A look that cannot keep its copies (no memory) moves every number, so that every
// item compares its value.
class TagChangeLook {
public:
    TagChangeLook();
    ~TagChangeLook();
    TagChangeLook(const TagChangeLook&) = delete;
    TagChangeLook& operator=(const TagChangeLook&) = delete;
};
