#pragma once
#include "runtime_link/tag_record.h"

class CMappedMemory;

// The attached shared tag area: null until attached, then the Viewer's record array.
extern TagRecord* g_sharedTagArea;
// How many whole tag records the attached view really holds; 0 while unattached.
extern int g_sharedTagRecordCapacity;

// Opens "Parhelionix Share Memory" through the holder; on success the view becomes the base.
// On failure the base keeps its previous value.
void AttachSharedTagArea(CMappedMemory& holder);
// Closes the holder's view; the base becomes null and the capacity 0.
void DetachSharedTagArea(CMappedMemory& holder);
