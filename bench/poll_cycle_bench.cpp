// One poll cycle over 10000 mixed tags, beside plain copies of the same fields: into a dense
// array (the least memory a refresh can touch), into the mirror's entries (the memory a refresh
// does touch), and the record fields a write request sets (the memory a write-back touches).
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench/best_of.h"
#include "bench/mixed_tag_area.h"

namespace {

constexpr int kTags = kMixedTags;
constexpr int kRounds = 200;

}  // namespace

int main()
{
    MixedTagArea area;
    if (!area.Ready()) {
        std::fprintf(stderr, "cannot create the shared tag area\n");
        return 1;
    }

    const double poll = BestOf(kRounds, RunPollCycle);

    std::vector<int32_t> copy(kTags);
    const double plainCopy = BestOf(kRounds, [&] {
        for (int i = 0; i < kTags; ++i) copy[i] = g_sharedTagArea[i].integerValue;
    });

    const double copyIntoMirror = BestOf(kRounds, [] {
        for (int i = 0; i < kTags; ++i) {
            g_tagMirror[i]->value.integer = g_sharedTagArea[i].integerValue;
        }
    });

    const double plainRequests = BestOf(kRounds, [] {
        for (int i = 0; i < kTags; ++i) {
            MirrorEntry& entry = *g_tagMirror[i];
            TagRecord& record = g_sharedTagArea[i];
            entry.writePending = 0;
            if (record.writeInhibit == 1) continue;
            record.integerValue = entry.value.integer;
            record.requestStatus = 0;
            for (int& stamp : record.requestStamp) stamp = i;
            record.writeRequest = 1;
        }
    });

    // Every tag with a pending client value: the write-back path.
    const double writeBack = BestOf(kRounds, [] {
        for (int i = 0; i < kTags; ++i) g_tagMirror[i]->writePending = 1;
        RunPollCycle();
    });

    std::printf("tags per cycle                 %d (best of %d rounds)\n", kTags, kRounds);
    std::printf("poll cycle, refresh            %10.1f us  %7.1f ns per tag\n", poll * 1e6,
                poll * 1e9 / kTags);
    std::printf("poll cycle, all written back   %10.1f us  %7.1f ns per tag\n", writeBack * 1e6,
                writeBack * 1e9 / kTags);
    std::printf("plain copy of the value fields %10.1f us  %7.1f ns per tag\n", plainCopy * 1e6,
                plainCopy * 1e9 / kTags);
    std::printf("plain copy into the mirror     %10.1f us  %7.1f ns per tag\n",
                copyIntoMirror * 1e6, copyIntoMirror * 1e9 / kTags);
    std::printf("plain write of request fields  %10.1f us  %7.1f ns per tag\n", plainRequests * 1e6,
                plainRequests * 1e9 / kTags);
    std::printf("ratio refresh / plain copy     %10.1f   / copy into the mirror %5.1f\n",
                poll / plainCopy, poll / copyIntoMirror);
    std::printf("ratio write-back / plain copy  %10.1f   / plain request writes %5.1f\n",
                writeBack / plainCopy, writeBack / plainRequests);

    return 0;
}
