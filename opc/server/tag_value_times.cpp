#include "opc/server/tag_value_times.h"

#include "opc/values/item_value.h"
#include "runtime_link/tag_mirror.h"

FILETIME TagValueTimes::Of(int slot) const
{
    return ValueTimeOfMirrorEntry(*g_tagMirror[slot]);
}
